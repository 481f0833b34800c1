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
        NntpArticleGroup group;
        group.name = "alt.test";
        group.low = 100;
        group.high = 110;
        group.postedAt = [](qint64 n) { return Now - qint64((110 - n + 0.5) * 86400); };
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
