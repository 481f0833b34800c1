// Every step of a reset run against a server that fails right there: the
// connection closed, reset, answered with garbage or left unanswered, and
// every reply cut into single bytes. A failed run must end by itself with one
// reason in the log and the button back on "Go", and leave the group cache
// file exactly as it was.
#include "app/frmReader.h"
#include "cache/modFile.h"
#include "common/modMain.h"
#include "nntp/CNNTP.h"
#include "support/ModalDriver.h"
#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

using TestSupport::LogIconKeys;
using TestSupport::LogMessages;
using TestSupport::ReadAll;

namespace
{

const qint64 Now = QDateTime(QDate(2026, 1, 10), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();
constexpr qint64 Day = 86400;
constexpr int DeadlineMs = 300;

// What the unfaulted run sent and wrote, shared by every row.
QList<QByteArray> cleanLines;
QByteArray cleanFile;

} // namespace

class tst_faultMatrix : public QObject
{
    Q_OBJECT

  private:
    std::unique_ptr<TestSupport::NntpTestServer> server;
    std::unique_ptr<frmReader> w;
    QString groupFile;

    QPushButton *Command1() { return TestSupport::Control<QPushButton>(*w, "Command1"); }
    QString Caption() { return Command1()->text(); }
    QString Dump()
    {
        return LogMessages(*w).join(QLatin1String(" | ")) + QLatin1String(" || ") +
               QString::fromLatin1(server->ReceivedLines().join("").trimmed());
    }

    // Presses "Go", waits for the button to settle on `caption` and for the
    // client to leave the server, so that nothing late is missed. Under Wine
    // a run on replies in single bytes takes some 15 s.
    bool Run(const QString &caption)
    {
        Command1()->click();
        const bool ended = QTest::qWaitFor(
            [&] { return Caption() == caption && server->OpenConnections() == 0; }, 60000);
        if (!ended)
            qWarning("caption %s; %s", qPrintable(Caption()), qPrintable(Dump()));
        return ended;
    }

    // The event number (0: greeting, k: k-th command) of a step of the
    // clean run.
    static int EventOf(const QByteArray &step)
    {
        if (step == "greeting")
            return 0;
        QList<int> heads;
        for (int i = 0; i < cleanLines.size(); ++i)
            if (cleanLines[i].startsWith("HEAD "))
                heads << i + 1;
        if (step == "user")
            return 1;
        if (step == "pass")
            return 2;
        if (step == "group")
            return 3;
        if (step == "lowest head")
            return heads.first();
        if (step == "highest head")
            return heads.at(1);
        if (step == "middle probe")
            return heads.at(heads.size() / 2);
        if (step == "last probe")
            return heads.last();
        if (step == "quit")
            return int(cleanLines.size());
        qFatal("unknown step %s", step.constData());
    }

  public:
    static void initMain() { TestSupport::PrepareWindowTests(); }

  private slots:
    void initTestCase()
    {
        modMain::SetPresentMomentSource([] { return QDateTime::fromSecsSinceEpoch(Now, Qt::UTC); });
        modFile::SetBackupQuestion([](const QString &) { return int(modFile::AnswerYes); });
    }

    void cleanupTestCase()
    {
        modMain::SetPresentMomentSource({});
        modFile::SetBackupQuestion({});
    }

    void init()
    {
        TestSupport::UseFreshSettingsFolder();
        server = std::make_unique<TestSupport::NntpTestServer>();
        // About a million articles over 2000 days: a search of some twenty
        // probes.
        server->AddGroup(TestSupport::NntpArticleGroup::Spread("alt.test", 1000, 1001000,
                                                               Now - 2000 * Day, Now - Day / 2));
        server->SetLogin("reader", "secret", true);
        QVERIFY(TestSupport::StartOnSettingsPort(*server));
        TestSupport::StoreServerSettings(QStringLiteral("127.0.0.1"), server->Port(),
                                         QStringLiteral("reader"), QStringLiteral("secret"));
        groupFile = TestSupport::MakeTempFolder() + QStringLiteral("/alt.test.nc1");
        QVERIFY(TestSupport::WriteSampleGroupFile(groupFile, QStringLiteral("123")));

        w = std::make_unique<frmReader>();
        w->SetErrorBox(
            [](const QString &text, const QString &) { qFatal("%s", qPrintable(text)); });
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(TestSupport::OpenGroupFile(*w, groupFile));
        TestSupport::Control<QLineEdit>(*w, "Text2")->setText(QStringLiteral("4"));
        TestSupport::Control<QCheckBox>(*w, "Check1")->setChecked(false);
        w->findChild<CNNTP *>()->SetTimeOutValue(DeadlineMs);
    }

    void cleanup()
    {
        w.reset();
        server.reset();
    }

    void cleanRun()
    {
        QVERIFY(Run(QStringLiteral("Finished!")));
        cleanLines = server->ReceivedLines();
        cleanFile = ReadAll(groupFile);
        QCOMPARE(cleanLines.mid(0, 2),
                 QList<QByteArray>({"CAPABILITIES\r\n", "AUTHINFO user reader\r\n"}));
        QCOMPARE(cleanLines.last(), QByteArray("QUIT\r\n"));
        QVERIFY(cleanLines.count() > 20);
        QVERIFY(!LogIconKeys(*w).contains(QStringLiteral("abort")));
    }

    // Every reply in 1-byte pieces: the same probes and the same pointer.
    void splitReplies()
    {
        QVERIFY(!cleanFile.isEmpty());
        server->SetSplit(1);
        QVERIFY(Run(QStringLiteral("Finished!")));
        QCOMPARE(server->ReceivedLines(), cleanLines);
        QCOMPARE(ReadAll(groupFile), cleanFile);
        QVERIFY(!LogIconKeys(*w).contains(QStringLiteral("abort")));
    }

    // The middle of the search takes the same path for every probe, so the
    // first two requests (which fix the age range), one probe in the middle
    // and the last one (the fetch of the article found) stand for them all.
    void faults_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<QByteArray>("step");
        for (const char *fault : {"close", "cut", "reset", "garbage", "silent"})
            for (const char *step : {"greeting", "user", "pass", "group", "lowest head",
                                     "highest head", "middle probe", "last probe", "quit"})
                QTest::addRow("%s at %s", fault, step) << QByteArray(fault) << QByteArray(step);
    }
    void faults()
    {
        QFETCH(QByteArray, fault);
        QFETCH(QByteArray, step);
        QVERIFY(!cleanFile.isEmpty());
        const int event = EventOf(step);
        if (fault == "close")
            server->SetCloseAt(event);
        else if (fault == "cut")
            server->SetCloseAt(event, 5); // part of the reply line, no line end
        else if (fault == "reset")
            server->SetResetAt(event);
        else if (fault == "garbage")
            server->SetGarbageFrom(event);
        else
            server->SetSilentFrom(event);
        const QByteArray old = ReadAll(groupFile);

        if (step == "quit") {
            // The file has been written before the goodbye is sent: whatever
            // the server does then cannot undo a finished run, and must not
            // be reported as its failure.
            QVERIFY(Run(QStringLiteral("Finished!")));
            QCOMPARE(ReadAll(groupFile), cleanFile);
            QVERIFY2(!LogIconKeys(*w).contains(QStringLiteral("abort")), qPrintable(Dump()));
            return;
        }
        QVERIFY(Run(QStringLiteral("Go")));
        const QStringList log = LogMessages(*w);
        QVERIFY2(LogIconKeys(*w).count(QStringLiteral("abort")) == 1, qPrintable(Dump()));
        const QString reason = log.at(LogIconKeys(*w).indexOf(QStringLiteral("abort")));
        const char *expected = fault == "reset"     ? "Connection reset by peer."
                               : fault == "garbage" ? "The server's answer is no NNTP reply; "
                                                      "connection closed."
                               : fault == "silent"  ? "Connection timed out."
                                                    : "Connection closed by the server.";
        QCOMPARE(reason, QLatin1String(expected));
        QVERIFY(!log.contains(QStringLiteral("ID founded!")));
        QCOMPARE(ReadAll(groupFile), old);
        // Nothing after the failed step but, at most, the goodbye.
        QList<QByteArray> lines = server->ReceivedLines();
        if (lines.size() > event && lines.last() == "QUIT\r\n")
            lines.removeLast();
        QCOMPARE(lines, cleanLines.mid(0, event));
    }

    // Lines that are no reply, sent one at a time for much longer than the
    // deadline, do not keep the client waiting: they are no progress.
    void garbageStreamDoesNotHoldTheRun()
    {
        const QByteArray line = QByteArray("Garbage, no reply").leftJustified(62, '.') + "\r\n";
        QList<int> cuts;
        for (int i = 1; i < 150; ++i)
            cuts << i * int(line.size());
        server->SetReplyHook([line](const QByteArray &command) -> std::optional<QByteArray> {
            if (command.startsWith("GROUP "))
                return line.repeated(150);
            return std::nullopt;
        });
        server->SetCutPoints(cuts, 100000); // 15 s of garbage, 0.1 s apart
        const QByteArray old = ReadAll(groupFile);
        Command1()->click();
        QVERIFY2(QTest::qWaitFor([&] { return Caption() == QLatin1String("Go"); }, 10000),
                 qPrintable(Dump()));
        QCOMPARE(LogIconKeys(*w).count(QStringLiteral("abort")), 1);
        QCOMPARE(LogMessages(*w).last(),
                 QStringLiteral("The server's answer is no NNTP reply; connection closed."));
        QCOMPARE(ReadAll(groupFile), old);
    }
};

QTEST_MAIN(tst_faultMatrix)
#include "tst_faultMatrix.moc"
