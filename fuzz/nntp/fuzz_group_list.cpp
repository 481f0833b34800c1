// GROUP and LIST replies from a server, parsed on their own and after
// going through the reply gatherer as the client does it.
#include "nntp/NntpReplyGatherer.h"
#include "nntp/modNNTP.h"

#include <QString>
#include <cstdint>
#include <cstdlib>

namespace
{

void Require(bool ok)
{
    if (!ok)
        std::abort();
}

void CheckGroup(const QString &reply)
{
    const modNNTP::GroupRange r = modNNTP::ParseGroupReply(reply);
    Require((r.first == 0 && r.last == 0) || (r.first > 0 && r.first <= r.last));
    // The owner gets the numbers as doubles and writes HEAD lines from them:
    // a number a double cannot hold would send the search to another article.
    Require(qint64(double(r.first)) == r.first && qint64(double(r.last)) == r.last);
}

void CheckList(const QString &reply)
{
    const QStringList groups = modNNTP::ParseGroupList(reply);
    Require(groups.size() <= reply.count(QLatin1String("\r\n")));
    for (const QString &name : groups) {
        Require(name.size() >= 3 && name.contains(u'.') && !name.contains(u' '));
        Require(reply.contains(QLatin1String("\r\n") + name));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString text = QString::fromLatin1(bytes);
    CheckGroup(text);
    CheckGroup(QStringLiteral("211 ") + text);
    CheckList(text);
    CheckList(QStringLiteral("215 list follows\r\n") + text);

    NntpReplyGatherer g;
    g.Append(bytes);
    int code = 0;
    QString reply;
    for (;;) {
        const NntpReplyGatherer::Scan scan = g.Next(code, reply);
        if (scan == NntpReplyGatherer::Scan::Incomplete || scan == NntpReplyGatherer::Scan::TooLarge)
            break;
        if (scan != NntpReplyGatherer::Scan::Complete)
            continue;
        if (code == 211)
            CheckGroup(reply);
        if (code == 215)
            CheckList(reply);
    }
    return 0;
}
