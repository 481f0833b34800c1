// The reset run on its own, without a window or a display: what it logs,
// asks for and writes.
#include "app/ResetRun.h"
#include "cache/modFile.h"
#include "common/modMain.h"
#include "support/ModalDriver.h"
#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"

#include <QLocale>
#include <QSignalSpy>
#include <QTest>

using TestSupport::NntpArticleGroup;

namespace
{

const qint64 Now = QDateTime(QDate(2026, 1, 10), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();

} // namespace

class tst_resetRunEngine : public QObject
{
    Q_OBJECT

    // 100..110, article n posted 110 - n + 0.5 days ago: 4 days find 107.
    static NntpArticleGroup WorkedGroup()
    {
        NntpArticleGroup group;
        group.name = "alt.test";
        group.low = 100;
        group.high = 110;
        group.postedAt = [](qint64 n) { return Now - qint64((110 - n + 0.5) * 86400); };
        return group;
    }

  private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        TestSupport::UseFreshSettingsFolder();
        modMain::SetPresentMomentSource([] { return QDateTime::fromSecsSinceEpoch(Now, Qt::UTC); });
        modFile::SetBackupQuestion([](const QString &) { return int(modFile::AnswerNo); });
    }

    // 100..110, article n posted 110 - n + 0.5 days ago, 4 days asked for.
    void workedExample()
    {
        TestSupport::NntpTestServer server;
        NntpArticleGroup group = WorkedGroup();
        server.AddGroup(group);
        QVERIFY(TestSupport::StartOnSettingsPort(server));
        TestSupport::StoreServerSettings(QStringLiteral("127.0.0.1"), server.Port());
        const QString file = TestSupport::MakeTempFolder() + QStringLiteral("/alt.test.nc1");
        QVERIFY(TestSupport::WriteSampleGroupFile(file, QStringLiteral("123")));

        ResetRun run;
        QStringList rows;
        connect(&run, &ResetRun::LogRow, this,
                [&](const QString &text, int kind) { rows << QString::number(kind) + ' ' + text; });
        QSignalSpy ended(&run, &ResetRun::RunEnded);
        QVERIFY(run.Start({{file, QStringLiteral("alt.test")}}, QStringLiteral("4")));
        QVERIFY(ended.wait(10000));
        QCOMPARE(ended.first().first().value<ResetRun::End>(), ResetRun::End::Finished);
        QVERIFY(QTest::qWaitFor([&] { return rows.last().endsWith("Goodbye!"); }, 10000));
        QCOMPARE(rows,
                 QStringList(
                     {"1 Connecting to 127.0.0.1...", "1 Connected", "1 Group alt.test selected",
                      "1 Pointer range: 100-110", "1 Age range: 10.5-0.5 day(s)",
                      "1 Search for Article posted 4 day(s) ago... Please wait.", "1 ID founded!",
                      "1 alt.test.nc1 created! You can now make an update in "
                      "Newsleecher.",
                      "1 Closing connection. Goodbye!"}));
        const ResetRun::FileResult result = run.Results().value(0);
        QCOMPARE(result.outcome, ResetRun::Outcome::Rewritten);
        QCOMPARE(result.pointer, 107.0);
        QCOMPARE(result.age, std::optional<double>(3.5));
        QCOMPARE(result.requests, 7);
        QCOMPARE(TestSupport::ReadAll(file),
                 TestSupport::ExpectedGroupFile("123", "127.0.0.1", 107));
    }

    // The lowest article is missing: its age is unknown, not 0, and halving
    // asks for nothing more than it did. The server is in transit mode: it
    // serves groups only after MODE READER, which halving needs as much as
    // the fast search.
    void ageRangeWithLowestMissing()
    {
        TestSupport::NntpTestServer server;
        NntpArticleGroup group = WorkedGroup();
        group.missing = {100};
        server.AddGroup(group);
        server.SetCapabilities(TestSupport::NntpCapabilities::ModeReader);
        QVERIFY(server.Start());
        ResetRun run;
        run.SetOverrides({QStringLiteral("127.0.0.1"), server.Port(), {}, {}, {}});
        run.SetDryRun(true);
        QStringList rows;
        connect(&run, &ResetRun::LogRow, this, [&](const QString &text) { rows << text; });
        QSignalSpy ended(&run, &ResetRun::RunEnded);
        QVERIFY(run.Start({{QStringLiteral("unused.nc1"), QStringLiteral("alt.test")}},
                          QStringLiteral("4")));
        QVERIFY(ended.wait(10000));
        QVERIFY2(rows.contains(QStringLiteral("Age range: unknown-0.5 day(s)")),
                 qPrintable(rows.join(" | ")));
        const QList<QByteArray> lines = server.ReceivedLines();
        QCOMPARE(lines.mid(0, 7),
                 QList<QByteArray>({"CAPABILITIES\r\n", "MODE READER\r\n", "CAPABILITIES\r\n",
                                    "GROUP alt.test\r\n", "HEAD 100\r\n", "HEAD 110\r\n",
                                    "HEAD 105\r\n"}));
        QCOMPARE(run.Results().value(0).pointer, 107.0);
    }

    // The fast search against servers with and without header ranges, with
    // a range reply it cannot read and with the connection reset while
    // several commands are under way: the right pointer, or the file as it was.
    void fastSearchOverServers_data()
    {
        using TestSupport::NntpCapabilities;
        QTest::addColumn<int>("caps");
        QTest::addColumn<bool>("garbage");
        QTest::addColumn<int>("resetAt");
        QTest::addColumn<int>("reconnects");
        QTest::addColumn<QByteArray>("range");
        QTest::newRow("HDR") << int(NntpCapabilities::Hdr) << false << -1 << 0
                             << QByteArray("HDR Date ");
        QTest::newRow("XHDR only")
            << int(NntpCapabilities::XhdrOnly) << false << -1 << 0 << QByteArray("XHDR Date ");
        QTest::newRow("no HDR") << int(NntpCapabilities::NoHdr) << false << -1 << 0 << QByteArray();
        QTest::newRow("500 to CAPABILITIES")
            << int(NntpCapabilities::Unknown) << false << -1 << 0 << QByteArray();
        QTest::newRow("transit until MODE READER")
            << int(NntpCapabilities::ModeReader) << false << -1 << 0 << QByteArray("HDR Date ");
        QTest::newRow("garbage in the range")
            << int(NntpCapabilities::Hdr) << true << -1 << 0 << QByteArray("HDR Date ");
        QTest::newRow("reset mid-round, reconnect")
            << int(NntpCapabilities::NoHdr) << false << 4 << 1 << QByteArray();
        QTest::newRow("reset mid-round, no reconnect")
            << int(NntpCapabilities::NoHdr) << false << 4 << 0 << QByteArray();
    }
    void fastSearchOverServers()
    {
        QFETCH(int, caps);
        QFETCH(bool, garbage);
        QFETCH(int, resetAt);
        QFETCH(int, reconnects);
        QFETCH(QByteArray, range);
        TestSupport::NntpTestServer server;
        NntpArticleGroup group =
            NntpArticleGroup::Spread("alt.big", 1, 1000000, Now - 2000 * 86400, Now);
        group.isMissing = [](qint64 n) { return n % 7 == 3 || (n / 100) % 50 == 7; };
        server.AddGroup(group);
        server.SetCapabilities(TestSupport::NntpCapabilities(caps));
        server.SetHeaderRangeGarbage(garbage);
        server.SetResetAt(resetAt);
        QVERIFY(server.Start());
        // The article the search must end on: the newest one there posted
        // at or before 30 days ago.
        const qint64 target = Now - 30 * 86400;
        qint64 low = 1, high = 1000000;
        while (low < high) {
            const qint64 mid = (low + high + 1) / 2;
            if (group.postedAt(mid) <= target)
                low = mid;
            else
                high = mid - 1;
        }
        while (group.isMissing(low))
            --low;
        const QString file = TestSupport::MakeTempFolder() + QStringLiteral("/alt.big.nc1");
        QVERIFY(TestSupport::WriteSampleGroupFile(file, QStringLiteral("1")));
        const QByteArray before = TestSupport::ReadAll(file);

        ResetRun run;
        run.SetOverrides({QStringLiteral("127.0.0.1"), server.Port(), {}, {}, {}});
        run.SetSearch(ResetRun::Search::Fast);
        run.SetMakeBackup(false);
        run.SetReconnects(reconnects);
        connect(&run, &ResetRun::LogRow, this, [&](const QString &, int kind) {
            if (kind == 3)
                server.SetResetAt(-1);
        });
        QSignalSpy ended(&run, &ResetRun::RunEnded);
        QVERIFY(run.Start({{file, QStringLiteral("alt.big")}}, QStringLiteral("30")));
        QVERIFY(ended.wait(20000));
        const ResetRun::FileResult result = run.Results().value(0);
        const QList<QByteArray> lines = server.ReceivedLines();
        if (resetAt >= 0 && reconnects == 0) {
            QCOMPARE(result.outcome, ResetRun::Outcome::Failed);
            QVERIFY(!result.error.isEmpty());
            QCOMPARE(TestSupport::ReadAll(file), before);
            return;
        }
        QCOMPARE(result.outcome, ResetRun::Outcome::Rewritten);
        QCOMPARE(qint64(result.pointer), low);
        QCOMPARE(TestSupport::ReadAll(file), TestSupport::ExpectedGroupFile("1", "127.0.0.1", low));
        QCOMPARE(run.Connections(), resetAt >= 0 ? 2 : 1);
        QVERIFY(result.rounds >= 1 && result.rounds <= result.requests);
        QCOMPARE(lines.count("CAPABILITIES\r\n"),
                 (caps == int(TestSupport::NntpCapabilities::ModeReader) ? 2 : 1) *
                     run.Connections());
        qsizetype ranges = 0;
        for (const QByteArray &line : lines)
            ranges += line.startsWith(range.isEmpty() ? QByteArray("HDR ") : range) ? 1 : 0;
        if (range.isEmpty())
            QCOMPARE(ranges, 0);
        else if (garbage)
            QCOMPARE(ranges, 1);
        else
            QVERIFY(ranges >= 1);
    }

    // A connection lost in the middle of the first file is made again once;
    // that file starts afresh and the second follows on the new connection.
    void lostConnectionReconnectsOnce()
    {
        TestSupport::NntpTestServer server;
        for (const char *name : {"alt.a", "alt.b"})
            server.AddGroup(NntpArticleGroup::Spread(name, 1, 100000, Now - 900 * 86400, Now));
        server.SetCloseAt(3);
        QVERIFY(server.Start());
        const QString folder = TestSupport::MakeTempFolder();
        QList<std::pair<QString, QString>> files;
        for (const QString group : {"alt.a", "alt.b"}) {
            files.append({folder + '/' + group + ".nc1", group});
            QVERIFY(TestSupport::WriteSampleGroupFile(files.last().first, "1"));
        }
        ResetRun run;
        run.SetOverrides({QStringLiteral("127.0.0.1"), server.Port(), {}, {}, {}});
        run.SetSearch(ResetRun::Search::Fast);
        run.SetMakeBackup(false);
        run.SetReconnects(1);
        // Only the first connection is cut, before the run reconnects.
        connect(&run, &ResetRun::LogRow, this, [&](const QString &text) {
            if (text.startsWith(QLatin1String("Connection closed")))
                server.SetCloseAt(-1);
        });
        QSignalSpy ended(&run, &ResetRun::RunEnded);
        QVERIFY(run.Start(files, QStringLiteral("30")));
        QVERIFY(ended.wait(10000));
        QCOMPARE(run.Connections(), 2);
        QCOMPARE(server.ConnectionCount(), 2);
        for (const ResetRun::FileResult &result : run.Results())
            QCOMPARE(result.outcome, ResetRun::Outcome::Rewritten);
    }

    // The stored login is for the stored server only.
    void storedLoginStaysWithItsServer()
    {
        TestSupport::NntpTestServer server;
        server.AddGroup(NntpArticleGroup::Spread("alt.a", 1, 10, Now - 9 * 86400, Now));
        QVERIFY(server.Start());
        TestSupport::StoreServerSettings(QStringLiteral("news.example"), 119,
                                         QStringLiteral("reader"), QStringLiteral("stored-pw"));
        const QString file = TestSupport::MakeTempFolder() + QStringLiteral("/alt.a.nc1");
        QVERIFY(TestSupport::WriteSampleGroupFile(file, "1"));
        ResetRun run;
        run.SetOverrides({QStringLiteral("127.0.0.1"), server.Port(), {}, {}, {}});
        QSignalSpy ended(&run, &ResetRun::RunEnded);
        QVERIFY(run.Start({{file, QStringLiteral("alt.a")}}, QStringLiteral("4")));
        QVERIFY(ended.wait(10000));
        QCOMPARE(run.Results().value(0).outcome, ResetRun::Outcome::Rewritten);
        for (const QByteArray &line : server.ReceivedLines())
            QVERIFY2(!line.startsWith("AUTHINFO"), line.constData());
    }
};

QTEST_GUILESS_MAIN(tst_resetRunEngine)
#include "tst_resetRunEngine.moc"
