#include "nntp/modNNTP.h"

#include <QTest>

using namespace modNNTP;

class tst_modNNTP : public QObject
{
    Q_OBJECT

private slots:
    void ConvertNNTPDate_forms();
    void ConvertNNTPDate_unreadable();
    void ParseArticleHeader_serverReplies();
    void ParseArticleHeader_fieldsAtLineStartOnly();
    void ParseArticleHeader_foldedLinesAndFrom();
    void ParseArticleHeader_messageId();
    void ParseArticleHeader_otherReplies();
    void ParseArticleHeader_hostileReplies();
    void ParseGroupReply_numbersADoubleHolds();
    void ParseGroupList_lines();
};

void tst_modNNTP::ConvertNNTPDate_forms()
{
    const struct {
        const char *value, *result;
    } rows[] = {
        {"Wed, 5 Jan 2005 12:34:56 +0100", "05/01/2005 11:34:56"},
        {"05 Jan 2005 12:34:56 GMT", "05/01/2005 12:34:56"},
        {"Tue, 14 Jun 2005 08:00:00 EDT", "14/06/2005 12:00:00"},
        {"Tue, 14 Jun 2005 08:00:00 -0400 (EDT)", "14/06/2005 12:00:00"},
        {"Tue, 14 Jun 2005 23:30:00 -0500", "15/06/2005 04:30:00"},
        {"Mon, 1 Aug 2005 09:15:00 +0530", "01/08/2005 03:45:00"}, // zone minutes
        {"5 Jan 2005 12:00:00 -0930", "05/01/2005 21:30:00"},
        {"1 Jan 2005 10:00:00 +1345", "31/12/2004 20:15:00"},
        {"Sat, 31 Dec 2005 23:30:00 -0100", "01/01/2006 00:30:00"},
        {"28 Feb 2004 23:00:00 -0200", "29/02/2004 01:00:00"},
        // Obsolete zone names; unknown names count as 0, a number beats a comment.
        {"5 Jan 2005 12:00:00 Z", "05/01/2005 12:00:00"},
        {"5 Jan 2005 12:00:00 EST", "05/01/2005 17:00:00"},
        {"5 Jan 2005 12:00:00 CDT", "05/01/2005 17:00:00"},
        {"5 Jan 2005 12:00:00 MST", "05/01/2005 19:00:00"},
        {"5 jan 2005 12:00:00 pdt", "05/01/2005 19:00:00"},
        {"5 Jan 2005 12:00:00 CET", "05/01/2005 12:00:00"},
        {"5 Jan 2005 12:00:00 +0200 (EDT)", "05/01/2005 10:00:00"},
        // Off the fixed positions, yet within the grammar.
        {"   Wed,  5\tJan  2005   12:34:56   +0100  ", "05/01/2005 11:34:56"},
        {"1 Jan 49 00:00:00 GMT", "01/01/2049 00:00:00"},
        {"1 Jan 50 00:00:00 GMT", "01/01/1950 00:00:00"},
        {"5 Jan 105 12:34:56 +0100", "05/01/2005 11:34:56"},
        {"Wed, 5 Jan 2005 12:34 +0100", "05/01/2005 11:34:00"},
        {"(x) Wed (y), 5 (z) Jan 2005 12 : 34:56 (a (nested)) GMT", "05/01/2005 12:34:56"},
        {"31 Dec 2005 23:59:60 +0000", "01/01/2006 00:00:00"},
        {"Mi, 5 Jan 2005 12:34:56 +0100", "05/01/2005 11:34:56"}, // weekday in German
    };
    for (const auto &row : rows)
        QCOMPARE(ConvertNNTPDate(row.value), QString(row.result));
}

void tst_modNNTP::ConvertNNTPDate_unreadable()
{
    // Never a malformed date text: either a real date or nothing.
    for (const char *value : {"", "   ", "Wed,", "5 Foo 2005 12:34:56 +0100", "5 Jan 2005",
                              "5 Jan 2005 12:3:00", "5 Jan 12:34:56", "5 Jan 20050 12:34:56",
                              "5 Jan 0000000020057 12:34:56",
                              "29 Feb 2005 12:34:56", "5 Jan 2005 24:00:00",
                              "Wed Jan  5 12:34:56 2005", "2005-01-05T12:34:56Z",
                              "99999999999999999999 Jan 2005 12:00:00",
                              "(Wed, 5 Jan 2005 12:34:56 +0100"})
        QVERIFY2(ConvertNNTPDate(value).isEmpty(), value);
}

// A reply as a server sends it: lines joined with CR LF, ended by ".".
static QString Reply(const QStringList &lines)
{
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n.\r\n");
}

void tst_modNNTP::ParseArticleHeader_serverReplies()
{
    const ArticleHeader inn = ParseArticleHeader(
        Reply({"221 3000234 <abc.123@news.example.org>", "Path: news.example.org!not-for-mail",
               "From: poster@example.com (Jane Poster)", "Newsgroups: alt.test",
               "Subject: Re: test (1/2)", "Date: Tue, 14 Jun 2005 23:30:00 -0500",
               "Message-ID: <abc.123@news.example.org>",
               "NNTP-Posting-Date: Wed, 15 Jun 2005 04:31:10 +0000"}),
        3000234);
    QCOMPARE(inn.from, QString("Jane Poster"));
    QCOMPARE(inn.Subject, QString("Re: test (1/2)"));
    QCOMPARE(inn.PostDate, QString("15/06/2005 04:30:00"));
    QCOMPARE(inn.MessageID, QString("abc.123@news.example.org"));
    QCOMPARE(inn.ArticleID, 3000234.0);

    // A provider that puts its own headers first, names in any case.
    const ArticleHeader provider = ParseArticleHeader(
        Reply({"221 17 <x@y> head", "injection-date: Mon, 01 Aug 2005 12:00:00 +0000",
               "X-Original-From: Someone Else <else@example.net>",
               "NNTP-Posting-Date: Mon, 01 Aug 2005 12:00:00 +0000", "SUBJECT: any case",
               "from:me@example.com (Me)", "date: Mon, 1 Aug 2005 09:15:00 +0530"}),
        17);
    QCOMPARE(provider.from, QString("Me"));
    QCOMPARE(provider.Subject, QString("any case"));
    QCOMPARE(provider.PostDate, QString("01/08/2005 03:45:00"));
}

void tst_modNNTP::ParseArticleHeader_fieldsAtLineStartOnly()
{
    const ArticleHeader h = ParseArticleHeader(
        Reply({"221 5 <m@n>", "References: <a@b> Subject: not this",
               "X-Original-From: wrong@example.com (Wrong)",
               "X-Comment: From: x (Wrong too) Date: 1 Jan 2000 00:00:00",
               "Subject : spaced name", "From: right@example.com (Right)",
               "Date: 5 Jan 2005 12:34:56 +0100", "Date: 6 Jan 2005 12:34:56 +0100"}),
        5);
    QCOMPARE(h.from, QString("Right"));
    QCOMPARE(h.Subject, QString("spaced name"));
    QCOMPARE(h.PostDate, QString("05/01/2005 11:34:56"));

    // Without a Date line, an Injection-Date is still not the posting date.
    const ArticleHeader none = ParseArticleHeader(
        Reply({"221 5", "Subject: s", "Injection-Date: Sat, 1 Jan 2000 00:00:00 +0000"}), 5);
    QCOMPARE(none.PostDate, QString());
}

void tst_modNNTP::ParseArticleHeader_foldedLinesAndFrom()
{
    const ArticleHeader h = ParseArticleHeader(
        Reply({"221 9 <f@g>", "From: jane@example.com", "   (Jane Folded)", "Subject:",
               " a subject that starts", "\ton the next lines", "Date: Wed, 5 Jan 2005",
               " 12:34:56 +0100", "Lines: 3"}),
        9);
    QCOMPARE(h.from, QString("Jane Folded"));
    QCOMPARE(h.Subject, QString("a subject that starts\ton the next lines"));
    QCOMPARE(h.PostDate, QString("05/01/2005 11:34:56"));

    // A name before an address in angle brackets is no name in parentheses.
    for (const char *line : {"From: Jane Doe <jane@example.com>", "From: jane@example.com (Jane",
                             "From: jane@example.com\r\nOrganization: (Org)"})
        QVERIFY2(ParseArticleHeader(Reply({"221 1", line}), 1).from.isEmpty(), line);
}

void tst_modNNTP::ParseArticleHeader_messageId()
{
    // The status line names the article, whatever brackets the headers hold.
    QCOMPARE(ParseArticleHeader(Reply({"221 42 <id@host> article", "From: J <j@example.com>",
                                       "Message-ID: <id@host>"}),
                                42)
                 .MessageID,
             QString("id@host"));
    QCOMPARE(ParseArticleHeader(Reply({"221 42 <unclosed", "From: J <j@example.com>",
                                       "Message-ID: <id@host>"}),
                                42)
                 .MessageID,
             QString("id@host"));
}

void tst_modNNTP::ParseArticleHeader_otherReplies()
{
    // No such article: four empty texts, the number carried through.
    for (const char *other : {"423 no such article\r\n", "430 <a@b>\r\nSubject: s\r\n",
                              "Subject: s\r\nDate: 5 Jan 2005 12:00:00\r\n", ""}) {
        const ArticleHeader h = ParseArticleHeader(other, 77);
        QVERIFY2(h.from.isEmpty() && h.Subject.isEmpty() && h.PostDate.isEmpty()
                     && h.MessageID.isEmpty() && h.ArticleID == 77,
                 other);
    }
    // LF alone, no closing "." (a reply cut short); nothing after the "." is read.
    const ArticleHeader lf =
        ParseArticleHeader("221 3 <a@b>\nSubject: lf\nDate: 5 Jan 2005 12:00:00 GMT", 3);
    QCOMPARE(lf.PostDate, QString("05/01/2005 12:00:00"));
    QCOMPARE(ParseArticleHeader("221 3\r\nSubject: s\r\n.\r\nDate: 5 Jan 2005 12:00 GMT\r\n", 3)
                 .PostDate,
             QString());
}

void tst_modNNTP::ParseArticleHeader_hostileReplies()
{
    // Megabytes of repeated or unbalanced markers come back, read in bounds.
    const qsizetype size = 2 * 1024 * 1024;
    for (const QString &body :
         {QString(size, u'<'), QStringLiteral("From: (").repeated(size / 7),
          QStringLiteral("\r\n From: (((").repeated(size / 12),
          QStringLiteral("Date: 5 Jan 2005 12:00:00 ") + QString(size, u'('),
          QStringLiteral("Subject: x\r\n").repeated(size / 12),
          QStringLiteral("Date: 1") + QString(size, u'0')}) {
        const QString date = ParseArticleHeader(QStringLiteral("221 1 ") + body, 1).PostDate;
        QVERIFY(date.isEmpty() || date == QStringLiteral("05/01/2005 12:00:00"));
    }
    QCOMPARE(ConvertNNTPDate(QStringLiteral("5 Jan 2005 12:00:00 (\\") + QString(size, u'\\')),
             QString("05/01/2005 12:00:00"));
}

void tst_modNNTP::ParseGroupReply_numbersADoubleHolds()
{
    const struct {
        const char *reply;
        qint64 first, last;
    } rows[] = {
        {"211 2 9007199254740990 9007199254740991 alt.test\r\n", 9007199254740990,
         9007199254740991},
        // Found by fuzzing: 9007199254760991 became another number as a double.
        {"211 2 9007199254740190 9007199254760991 alt.t\n", 0, 0},
        {"211 2 9007199254740991 9007199254740992 alt.test\r\n", 0, 0},
        {"211 2 9007199254740992 9999999999999999 alt.test\r\n", 0, 0},
        {"211 3 0005 0007 alt.test\r\n", 5, 7},
        {"211 3 5 7\r\n", 0, 0}, // no name after the high mark
    };
    for (const auto &row : rows) {
        const GroupRange r = ParseGroupReply(QString::fromLatin1(row.reply));
        QCOMPARE(r.first, row.first);
        QCOMPARE(r.last, row.last);
    }
}

void tst_modNNTP::ParseGroupList_lines()
{
    // Lines that end without CR LF are not yet lines; a bare LF does not end one.
    QCOMPARE(ParseGroupList(u"215 x\r\nalt.a 1 1 y\nalt.b 1 1 y\r\nalt.c"),
             QStringList{"alt.a"});
    QCOMPARE(ParseGroupList(u"215 no line end"), QStringList());
    QCOMPARE(ParseGroupList(u"215 x\r\n.\r\n.. 1 1 y\r\nab. 1\r\n"), QStringList{"ab."});
}

QTEST_GUILESS_MAIN(tst_modNNTP)
#include "tst_modNNTP.moc"
