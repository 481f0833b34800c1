#pragma once
// Article header fields and posting dates of a HEAD reply.
#include <QString>
#include <QStringList>
#include <QStringView>

namespace modNNTP {

// What the client hands its owner after a HEAD reply. All four texts are
// empty when the reply was not 221.
struct ArticleHeader {
    QString from;      // the name in the parentheses of "From: address (Name)"
    QString Subject;
    QString PostDate;  // "dd/mm/yyyy hh:mm:ss" in UTC, or empty when unreadable
    QString MessageID; // without the angle brackets
    double ArticleID = 0;
};

// Converts a Date header value (RFC 5322, obsolete forms included) to
// "dd/mm/yyyy hh:mm:ss" in UTC. A value that cannot be read as a date
// gives the empty text.
QString ConvertNNTPDate(const QString &value);

// Reads the header record out of a whole HEAD reply: the status line and
// the header lines, each ended by CR LF, optionally ended by the "." line.
// articleID is carried into the record as it is.
ArticleHeader ParseArticleHeader(const QString &reply, double articleID);

// The first and last article numbers of a 211 reply to GROUP
// ("211 count first last group"). Both are 0 when the group holds no
// articles or the numbers cannot be read.
struct GroupRange {
    qint64 first = 0;
    qint64 last = 0;
};
GroupRange ParseGroupReply(QStringView reply);

// The group names of a whole 215 reply to LIST: the first word of every
// line after the status line that has at least 3 characters and a ".".
QStringList ParseGroupList(QStringView reply);

} // namespace modNNTP
