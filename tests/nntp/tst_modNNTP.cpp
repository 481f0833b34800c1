#include "nntp/modNNTP.h"

#include <QTest>

using namespace modNNTP;

class tst_modNNTP : public QObject
{
    Q_OBJECT

private slots:
    void ConvertNNTPDate_forms_data();
    void ConvertNNTPDate_forms();
    void ConvertNNTPDate_unreadable_data();
    void ConvertNNTPDate_unreadable();
    void ParseArticleHeader_serverReplies();
    void ParseArticleHeader_fieldsAtLineStartOnly();
    void ParseArticleHeader_from_data();
    void ParseArticleHeader_from();
    void ParseArticleHeader_foldedLines();
    void ParseArticleHeader_messageId();
    void ParseArticleHeader_missingFieldsAndOtherReplies();
    void ParseArticleHeader_hostileReplies();
};

void tst_modNNTP::ConvertNNTPDate_forms_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("result");

    // The conversion table; the +0530 row now honours the zone minutes.
    QTest::newRow("+0100") << "Wed, 5 Jan 2005 12:34:56 +0100" << "05/01/2005 11:34:56";
    QTest::newRow("GMT") << "05 Jan 2005 12:34:56 GMT" << "05/01/2005 12:34:56";
    QTest::newRow("EDT") << "Tue, 14 Jun 2005 08:00:00 EDT" << "14/06/2005 12:00:00";
    QTest::newRow("-0400 (EDT)") << "Tue, 14 Jun 2005 08:00:00 -0400 (EDT)"
                                 << "14/06/2005 12:00:00";
    QTest::newRow("-0500 next day") << "Tue, 14 Jun 2005 23:30:00 -0500" << "15/06/2005 04:30:00";
    QTest::newRow("+0530") << "Mon, 1 Aug 2005 09:15:00 +0530" << "01/08/2005 03:45:00";

    // Zones in full.
    QTest::newRow("+0000") << "5 Jan 2005 12:34:56 +0000" << "05/01/2005 12:34:56";
    QTest::newRow("-0000") << "5 Jan 2005 12:34:56 -0000" << "05/01/2005 12:34:56";
    QTest::newRow("-0930") << "5 Jan 2005 12:00:00 -0930" << "05/01/2005 21:30:00";
    QTest::newRow("+1345 back a day") << "1 Jan 2005 10:00:00 +1345" << "31/12/2004 20:15:00";
    QTest::newRow("UT") << "5 Jan 2005 12:00:00 UT" << "05/01/2005 12:00:00";
    QTest::newRow("Z") << "5 Jan 2005 12:00:00 Z" << "05/01/2005 12:00:00";
    QTest::newRow("EST") << "5 Jan 2005 12:00:00 EST" << "05/01/2005 17:00:00";
    QTest::newRow("CST") << "5 Jan 2005 12:00:00 CST" << "05/01/2005 18:00:00";
    QTest::newRow("CDT") << "5 Jan 2005 12:00:00 CDT" << "05/01/2005 17:00:00";
    QTest::newRow("MST") << "5 Jan 2005 12:00:00 MST" << "05/01/2005 19:00:00";
    QTest::newRow("MDT") << "5 Jan 2005 12:00:00 MDT" << "05/01/2005 18:00:00";
    QTest::newRow("PST") << "5 Jan 2005 12:00:00 PST" << "05/01/2005 20:00:00";
    QTest::newRow("PDT lower case") << "5 jan 2005 12:00:00 pdt" << "05/01/2005 19:00:00";
    QTest::newRow("other name counts 0") << "5 Jan 2005 12:00:00 CET" << "05/01/2005 12:00:00";
    QTest::newRow("numeric wins over comment") << "5 Jan 2005 12:00:00 +0200 (EDT)"
                                               << "05/01/2005 10:00:00";
    QTest::newRow("no zone") << "5 Jan 2005 12:00:00" << "05/01/2005 12:00:00";
    QTest::newRow("EDT inside a later word is no zone")
        << "5 Jan 2005 12:00:00 +0000 (fedtime)" << "05/01/2005 12:00:00";
    QTest::newRow("year rolls over") << "Sat, 31 Dec 2005 23:30:00 -0100" << "01/01/2006 00:30:00";
    QTest::newRow("into a leap day") << "28 Feb 2004 23:00:00 -0200" << "29/02/2004 01:00:00";

    // Forms off the fixed positions that the grammar still allows.
    QTest::newRow("no weekday, one-digit day") << "5 Jan 2005 12:34:56 +0100"
                                               << "05/01/2005 11:34:56";
    QTest::newRow("leading and extra blanks") << "   Wed,  5   Jan  2005   12:34:56   +0100  "
                                              << "05/01/2005 11:34:56";
    QTest::newRow("tabs") << "Wed,\t5\tJan\t2005\t12:34:56\t+0100" << "05/01/2005 11:34:56";
    QTest::newRow("weekday without blank") << "Wed,5 Jan 2005 12:34:56 +0100"
                                           << "05/01/2005 11:34:56";
    QTest::newRow("two-digit year 49") << "1 Jan 49 00:00:00 GMT" << "01/01/2049 00:00:00";
    QTest::newRow("two-digit year 50") << "1 Jan 50 00:00:00 GMT" << "01/01/1950 00:00:00";
    QTest::newRow("two-digit year 05") << "Wed, 5 Jan 05 12:34:56 +0100" << "05/01/2005 11:34:56";
    QTest::newRow("three-digit year") << "5 Jan 105 12:34:56 +0100" << "05/01/2005 11:34:56";
    QTest::newRow("no seconds") << "Wed, 5 Jan 2005 12:34 +0100" << "05/01/2005 11:34:00";
    QTest::newRow("one-digit hour") << "5 Jan 2005 9:05:00 GMT" << "05/01/2005 09:05:00";
    QTest::newRow("trailing comment") << "Wed, 5 Jan 2005 12:34:56 +0100 (CET)"
                                      << "05/01/2005 11:34:56";
    QTest::newRow("comments everywhere") << "(x) Wed (y), 5 (z) Jan 2005 12:34:56 (a (nested)) GMT"
                                         << "05/01/2005 12:34:56";
    QTest::newRow("blanks around colons") << "5 Jan 2005 12 : 34 : 56 GMT" << "05/01/2005 12:34:56";
    QTest::newRow("full names") << "Wednesday, 5 January 2005 12:34:56 GMT"
                                << "05/01/2005 12:34:56";
    QTest::newRow("leap second") << "31 Dec 2005 23:59:60 +0000" << "01/01/2006 00:00:00";
    QTest::newRow("zone without minutes") << "5 Jan 2005 12:00:00 +05" << "05/01/2005 07:00:00";
}

void tst_modNNTP::ConvertNNTPDate_forms()
{
    QFETCH(QString, value);
    QFETCH(QString, result);
    QCOMPARE(ConvertNNTPDate(value), result);
}

void tst_modNNTP::ConvertNNTPDate_unreadable_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("empty") << "";
    QTest::newRow("blanks") << "   ";
    QTest::newRow("words") << "yesterday at noon";
    QTest::newRow("weekday only") << "Wed,";
    QTest::newRow("unknown month") << "5 Foo 2005 12:34:56 +0100";
    QTest::newRow("no time") << "5 Jan 2005";
    QTest::newRow("no minutes") << "5 Jan 2005 12 +0100";
    QTest::newRow("one-digit minutes") << "5 Jan 2005 12:3:00 +0100";
    QTest::newRow("no year") << "5 Jan 12:34:56";
    QTest::newRow("one-digit year") << "5 Jan 5 12:34:56";
    QTest::newRow("five-digit year") << "5 Jan 20050 12:34:56";
    QTest::newRow("day 0") << "0 Jan 2005 12:34:56";
    QTest::newRow("31 Feb") << "31 Feb 2005 12:34:56";
    QTest::newRow("29 Feb not a leap year") << "29 Feb 2005 12:34:56";
    QTest::newRow("three-digit day") << "005 Jan 2005 12:34:56";
    QTest::newRow("hour 24") << "5 Jan 2005 24:00:00";
    QTest::newRow("minute 60") << "5 Jan 2005 12:60:00";
    QTest::newRow("second 61") << "5 Jan 2005 12:00:61";
    QTest::newRow("asctime") << "Wed Jan  5 12:34:56 2005";
    QTest::newRow("iso") << "2005-01-05T12:34:56Z";
    QTest::newRow("huge digits") << "99999999999999999999999 Jan 2005 12:00:00";
    QTest::newRow("unclosed comment") << "(Wed, 5 Jan 2005 12:34:56 +0100";
}

void tst_modNNTP::ConvertNNTPDate_unreadable()
{
    QFETCH(QString, value);
    QCOMPARE(ConvertNNTPDate(value), QString());
}

// A reply as a server sends it: lines joined with CR LF, ended by ".".
static QString Reply(const QStringList &lines)
{
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n.\r\n");
}

void tst_modNNTP::ParseArticleHeader_serverReplies()
{
    const QString inn = Reply({
        "221 3000234 <abc.123@news.example.org>",
        "Path: news.example.org!not-for-mail",
        "From: poster@example.com (Jane Poster)",
        "Newsgroups: alt.test",
        "Subject: Re: test (1/2)",
        "Date: Tue, 14 Jun 2005 23:30:00 -0500",
        "Organization: Example",
        "Lines: 12",
        "Message-ID: <abc.123@news.example.org>",
        "NNTP-Posting-Date: Wed, 15 Jun 2005 04:31:10 +0000",
        "Xref: news.example.org alt.test:3000234",
    });
    const ArticleHeader h = ParseArticleHeader(inn, 3000234);
    QCOMPARE(h.from, QString("Jane Poster"));
    QCOMPARE(h.Subject, QString("Re: test (1/2)"));
    QCOMPARE(h.PostDate, QString("15/06/2005 04:30:00"));
    QCOMPARE(h.MessageID, QString("abc.123@news.example.org"));
    QCOMPARE(h.ArticleID, 3000234.0);

    // A provider that injects its own headers first, some in lower case.
    const QString provider = Reply({
        "221 17 <x@y> head",
        "injection-date: Mon, 01 Aug 2005 12:00:00 +0000",
        "X-Original-From: Someone Else <else@example.net>",
        "NNTP-Posting-Date: Mon, 01 Aug 2005 12:00:00 +0000",
        "X-Received-Date: Mon, 01 Aug 2005 11:00:00 GMT",
        "SUBJECT: lower and upper",
        "from: me@example.com (Me)",
        "date: Mon, 1 Aug 2005 09:15:00 +0530",
    });
    const ArticleHeader p = ParseArticleHeader(provider, 17);
    QCOMPARE(p.from, QString("Me"));
    QCOMPARE(p.Subject, QString("lower and upper"));
    QCOMPARE(p.PostDate, QString("01/08/2005 03:45:00"));
    QCOMPARE(p.MessageID, QString("x@y"));
}

void tst_modNNTP::ParseArticleHeader_fieldsAtLineStartOnly()
{
    // Names that end in the same word, and the names inside values, are
    // never taken for the fields themselves.
    const QString reply = Reply({
        "221 5 <m@n>",
        "References: <a@b> Subject: not this",
        "Injection-Date: Sat, 1 Jan 2000 00:00:00 +0000",
        "NNTP-Posting-Date: Sat, 1 Jan 2000 00:00:00 +0000",
        "X-Original-From: wrong@example.com (Wrong)",
        "X-Comment: From: wrong@example.com (Wrong too) Date: 1 Jan 2000 00:00:00",
        "Subject : spaced name",
        "From: right@example.com (Right)",
        "Date: 5 Jan 2005 12:34:56 +0100",
        "Date: 6 Jan 2005 12:34:56 +0100",
    });
    const ArticleHeader h = ParseArticleHeader(reply, 5);
    QCOMPARE(h.from, QString("Right"));
    QCOMPARE(h.Subject, QString("spaced name"));
    QCOMPARE(h.PostDate, QString("05/01/2005 11:34:56"));

    // No Date line at all: an Injection-Date is still not the posting date.
    const ArticleHeader none =
        ParseArticleHeader(Reply({"221 5 <m@n>", "Subject: s",
                                  "Injection-Date: Sat, 1 Jan 2000 00:00:00 +0000"}),
                           5);
    QCOMPARE(none.Subject, QString("s"));
    QCOMPARE(none.PostDate, QString());
}

void tst_modNNTP::ParseArticleHeader_from_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("from");
    QTest::newRow("address (Name)") << "From: jane@example.com (Jane Doe)" << "Jane Doe";
    QTest::newRow("Name <address>") << "From: Jane Doe <jane@example.com>" << "";
    QTest::newRow("no blank after colon") << "From:jane@example.com (Jane)" << "Jane";
    QTest::newRow("unclosed parenthesis") << "From: jane@example.com (Jane" << "";
    QTest::newRow("parenthesis on the next header is not taken")
        << "From: jane@example.com\r\nOrganization: (Org)" << "";
    QTest::newRow("empty value") << "From:" << "";
}

void tst_modNNTP::ParseArticleHeader_from()
{
    QFETCH(QString, line);
    QFETCH(QString, from);
    const ArticleHeader h = ParseArticleHeader(Reply({"221 1 <a@b>", line, "Subject: s"}), 1);
    QCOMPARE(h.from, from);
    QCOMPARE(h.Subject, QString("s"));
}

void tst_modNNTP::ParseArticleHeader_foldedLines()
{
    const QString reply = Reply({
        "221 9 <f@g>",
        "From: jane@example.com",
        "   (Jane Folded)",
        "Subject:",
        " a subject that starts",
        "\ton the next lines",
        "Date: Wed, 5 Jan 2005",
        " 12:34:56 +0100",
        "Lines: 3",
    });
    const ArticleHeader h = ParseArticleHeader(reply, 9);
    QCOMPARE(h.from, QString("Jane Folded"));
    QCOMPARE(h.Subject, QString("a subject that starts\ton the next lines"));
    QCOMPARE(h.PostDate, QString("05/01/2005 11:34:56"));
}

void tst_modNNTP::ParseArticleHeader_messageId()
{
    // The status line names the article; angle brackets in the headers
    // before the Message-ID line do not.
    const ArticleHeader status = ParseArticleHeader(
        Reply({"221 42 <id@host> article", "From: Jane <jane@example.com>",
               "References: <older@host>", "Message-ID: <id@host>"}),
        42);
    QCOMPARE(status.MessageID, QString("id@host"));

    // A server that leaves the id out of the status line.
    const ArticleHeader header = ParseArticleHeader(
        Reply({"221 42", "From: Jane <jane@example.com>", "Message-ID: <id@host>"}), 42);
    QCOMPARE(header.MessageID, QString("id@host"));

    const ArticleHeader neither =
        ParseArticleHeader(Reply({"221 42 <unclosed", "From: Jane <jane@example.com>"}), 42);
    QCOMPARE(neither.MessageID, QString());
}

void tst_modNNTP::ParseArticleHeader_missingFieldsAndOtherReplies()
{
    const ArticleHeader bare = ParseArticleHeader("221 1\r\n.\r\n", 1);
    QVERIFY(bare.from.isEmpty() && bare.Subject.isEmpty() && bare.PostDate.isEmpty()
            && bare.MessageID.isEmpty());

    // A header value that cannot be read as a date leaves PostDate empty
    // while the rest of the record stands.
    const ArticleHeader badDate =
        ParseArticleHeader(Reply({"221 1 <a@b>", "Subject: s", "Date: sometime"}), 1);
    QCOMPARE(badDate.Subject, QString("s"));
    QCOMPARE(badDate.PostDate, QString());

    // No such article: four empty texts, the number carried through.
    for (const QString &other : {QString("423 no such article\r\n"),
                                 QString("430 no such article <a@b>\r\nSubject: s\r\n"),
                                 QString("Subject: s\r\nDate: 5 Jan 2005 12:00:00\r\n"), QString()}) {
        const ArticleHeader h = ParseArticleHeader(other, 77);
        QVERIFY(h.from.isEmpty() && h.Subject.isEmpty() && h.PostDate.isEmpty()
                && h.MessageID.isEmpty());
        QCOMPARE(h.ArticleID, 77.0);
    }

    // Lines ended by LF alone, no closing "." and nothing after the last
    // line break, as a reply cut short would leave it.
    const ArticleHeader lf = ParseArticleHeader(
        "221 3 <a@b>\nSubject: lf only\nDate: 5 Jan 2005 12:00:00 GMT", 3);
    QCOMPARE(lf.Subject, QString("lf only"));
    QCOMPARE(lf.PostDate, QString("05/01/2005 12:00:00"));

    // Nothing after the end of the header block is read.
    const ArticleHeader ended = ParseArticleHeader(
        "221 3 <a@b>\r\nSubject: s\r\n.\r\nDate: 5 Jan 2005 12:00:00 GMT\r\n", 3);
    QCOMPARE(ended.PostDate, QString());
}

void tst_modNNTP::ParseArticleHeader_hostileReplies()
{
    // Megabyte replies of repeated or unbalanced markers: each must come
    // back (the scans are linear) without reading past the text.
    const qsizetype size = 2 * 1024 * 1024;
    const QString status = QStringLiteral("221 1 ");
    const QStringList bodies = {
        QString(size, u'<'),
        QStringLiteral("From: (").repeated(size / 7),
        QStringLiteral("\r\n From: (((").repeated(size / 12),
        QStringLiteral("Date: ") + QString(size, u'('),
        QStringLiteral("Date: 5 Jan 2005 12:00:00 ") + QString(size, u'('),
        QStringLiteral("Subject: x\r\n").repeated(size / 12),
        QString(size, u'\n'),
        QStringLiteral("Date: 1") + QString(size, u'0'),
    };
    for (const QString &body : bodies) {
        const ArticleHeader h = ParseArticleHeader(status + body, 1);
        QVERIFY(h.PostDate.isEmpty() || h.PostDate.size() == 19);
    }
    QCOMPARE(ConvertNNTPDate(QString(size, u'(') + QStringLiteral("5 Jan 2005 12:00:00")),
             QString());
    QCOMPARE(ConvertNNTPDate(QStringLiteral("5 Jan 2005 12:00:00 ")
                             + QStringLiteral("\\").repeated(size)),
             QString("05/01/2005 12:00:00"));
}

QTEST_GUILESS_MAIN(tst_modNNTP)
#include "tst_modNNTP.moc"
