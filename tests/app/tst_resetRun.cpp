// Whole reset runs through the main window against the scripted news server:
// the probes sent, the log, the labels and the bytes of the file written.
#include "app/frmReader.h"
#include "cache/modFile.h"
#include "common/modMain.h"
#include "nntp/CNNTP.h"
#include "support/ModalDriver.h"
#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"
#include "ui/modSettings.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <memory>

using TestSupport::ExpectedGroupFile;
using TestSupport::LogMessages;
using TestSupport::NntpArticleGroup;
using TestSupport::ReadAll;

namespace
{

// The present moment of every run here: on a whole hour, so that article
// dates a whole number of half days back give exact ages.
const qint64 Now = QDateTime(QDate(2026, 1, 10), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();
constexpr qint64 Day = 86400;

const QString Created = QStringLiteral(" created! You can now make an update in Newsleecher.");

// Article n of low..high posted high - n + extra days before the present.
NntpArticleGroup AgedGroup(const QByteArray &name, qint64 low, qint64 high, double extraDays)
{
    NntpArticleGroup group;
    group.name = name;
    group.low = low;
    group.high = high;
    group.postedAt = [high, extraDays](qint64 n) {
        return Now - qint64((double(high - n) + extraDays) * Day);
    };
    return group;
}

} // namespace

class tst_resetRun : public QObject
{
    Q_OBJECT

  private:
    std::unique_ptr<TestSupport::NntpTestServer> server;
    std::unique_ptr<frmReader> w;
    QString folder;
    QString groupFile;
    QStringList errorBoxes;
    QStringList questions;

    template <class T> T *Control(const char *name) { return TestSupport::Control<T>(*w, name); }
    QPushButton *Command1() { return Control<QPushButton>("Command1"); }
    QString Caption() { return Command1()->text(); }
    QString Info(int i)
    {
        return Control<QLabel>(qPrintable(QStringLiteral("lbInfo_%1").arg(i)))->text();
    }

    void SetDays(const QString &days) { Control<QLineEdit>("Text2")->setText(days); }

    // The command lines the server received, without their line ends.
    QStringList Lines()
    {
        QStringList lines;
        // What the server offers is asked first on every connection; the
        // run's own requests follow.
        for (const QByteArray &line : server->ReceivedLines())
            if (line != "CAPABILITIES\r\n")
                lines << QString::fromLatin1(line).trimmed();
        return lines;
    }
    QStringList Heads()
    {
        QStringList heads;
        for (const QString &line : Lines())
            if (line.startsWith(QLatin1String("HEAD ")))
                heads << line.mid(5);
        return heads;
    }

    // Presses "Go" and waits until the button reads `caption` again.
    bool RunUntil(const QString &caption)
    {
        Command1()->click();
        if (QTest::qWaitFor([&] { return Caption() == caption; }, 10000))
            return true;
        qWarning("log: %s", qPrintable(LogMessages(*w).join(QLatin1String(" | "))));
        qWarning("server: %s", qPrintable(Lines().join(QLatin1String(" | "))));
        return false;
    }
    bool WaitForLogRow(const QString &message)
    {
        return QTest::qWaitFor([&] { return LogMessages(*w).contains(message); }, 10000);
    }
    bool WaitForLines(int count)
    {
        return QTest::qWaitFor([&] { return server->ReceivedLines().size() >= count; }, 10000);
    }

  public:
    static void initMain() { TestSupport::PrepareWindowTests(); }

  private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        modMain::SetPresentMomentSource([] { return QDateTime::fromSecsSinceEpoch(Now, Qt::UTC); });
    }

    void cleanupTestCase() { modMain::SetPresentMomentSource({}); }

    void init()
    {
        TestSupport::UseFreshSettingsFolder();
        server = std::make_unique<TestSupport::NntpTestServer>();
        server->AddGroup(AgedGroup("alt.test", 100, 110, 0.5));
        QVERIFY(TestSupport::StartOnSettingsPort(*server));
        TestSupport::StoreServerSettings(QStringLiteral("127.0.0.1"), server->Port());
        folder = TestSupport::MakeTempFolder();
        groupFile = folder + QStringLiteral("/alt.test.nc1");
        QVERIFY(TestSupport::WriteSampleGroupFile(groupFile, QStringLiteral("123")));

        w = std::make_unique<frmReader>();
        errorBoxes.clear();
        w->SetErrorBox([this](const QString &text, const QString &title) {
            errorBoxes << title + QLatin1Char('|') + text;
        });
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(TestSupport::OpenGroupFile(*w, groupFile));
        QCOMPARE(Info(0), QStringLiteral("alt.test"));
        SetDays(QStringLiteral("4"));
        questions.clear();
        modFile::SetBackupQuestion([this](const QString &text) {
            questions << text;
            return int(modFile::AnswerNo);
        });
    }

    void cleanup()
    {
        w.reset();
        server.reset();
        modFile::SetBackupQuestion({});
    }

    // 100..110, article n posted 110 - n + 0.5 days ago, 4 days asked for.
    void workedExample_data()
    {
        QTest::addColumn<qint64>("offset");
        QTest::newRow("as numbered") << qint64(0);
        QTest::newRow("beyond 32 bits") << qint64(4999999900);
    }
    void workedExample()
    {
        QFETCH(qint64, offset);
        server->ClearGroups();
        server->AddGroup(AgedGroup("alt.test", 100 + offset, 110 + offset, 0.5));
        const QByteArray old = ReadAll(groupFile);
        auto n = [offset](qint64 k) { return QString::number(k + offset); };

        // Once both ends are in, the labels show the highest article, not a
        // number left from before.
        QString idAtAgeRange;
        connect(Control<QTreeWidget>("lstLog")->model(), &QAbstractItemModel::rowsInserted, this,
                [&] {
                    if (LogMessages(*w).last().startsWith(QLatin1String("Age range")))
                        idAtAgeRange = Info(1);
                });
        QVERIFY(RunUntil(QStringLiteral("Finished!")));
        QCOMPARE(idAtAgeRange, n(110));
        QCOMPARE(Heads(), QStringList({n(100), n(110), n(105), n(108), n(106), n(107), n(107)}));
        QVERIFY(WaitForLogRow(QStringLiteral("Closing connection. Goodbye!")));
        QCOMPARE(Lines().first(), QStringLiteral("GROUP alt.test"));
        QCOMPARE(server->ReceivedLines().last(), QByteArray("QUIT\r\n"));
        QCOMPARE(
            LogMessages(*w),
            QStringList({QStringLiteral("Connecting to 127.0.0.1..."), QStringLiteral("Connected"),
                         QStringLiteral("Group alt.test selected"),
                         QStringLiteral("Pointer range: ") + n(100) + "-" + n(110),
                         QStringLiteral("Age range: 10.5-0.5 day(s)"),
                         QStringLiteral("Search for Article posted 4 day(s) ago... Please wait."),
                         QStringLiteral("ID founded!"), QStringLiteral("alt.test.nc1") + Created,
                         QStringLiteral("Closing connection. Goodbye!")}));
        QVERIFY(TestSupport::LogIconKeys(*w).count(QStringLiteral("info")) == 9);
        QCOMPARE(ReadAll(groupFile), ExpectedGroupFile("123", "127.0.0.1", 107 + offset));
        QCOMPARE(ReadAll(groupFile + QStringLiteral(".bak")), old);
        QCOMPARE(Info(1), n(107));
        QCOMPARE(Info(2), QStringLiteral("Test article ") + n(107));
        QCOMPARE(Info(3), QStringLiteral("07/01/2026 00:00:00"));
        QCOMPARE(Info(4), QStringLiteral("3.5"));
        QCOMPARE(w->focusWidget(), Control<QWidget>("Command2"));

        QCOMPARE(questions, QStringList());

        // "Finished!" starts a new run exactly like "Go"; the backup of the
        // first run is there now, so the user is asked first.
        server->ClearReceivedLines();
        QVERIFY(RunUntil(QStringLiteral("Finished!")));
        QCOMPARE(Heads().size(), 7);
        QCOMPARE(questions,
                 QStringList({groupFile + QStringLiteral(".bak already exists.\r\n"
                                                         "Do you want to overwrite it?")}));
    }

    // Where the search stops: the probes asked for and the pointer written.
    void searchEnds_data()
    {
        QTest::addColumn<qint64>("low");
        QTest::addColumn<qint64>("high");
        QTest::addColumn<double>("extraDays");
        QTest::addColumn<QString>("days");
        QTest::addColumn<QStringList>("heads");
        QTest::addColumn<qint64>("pointer");
        QTest::newRow("exact match") << qint64(100) << qint64(110) << 0.0 << "5"
                                     << QStringList{"100", "110", "105", "105"} << qint64(105);
        QTest::newRow("one article") << qint64(100) << qint64(100) << 0.5 << "4"
                                     << QStringList{"100", "100", "100", "100"} << qint64(100);
        QTest::newRow("three articles") << qint64(100) << qint64(102) << 0.5 << "1"
                                        << QStringList{"100", "102", "101", "101"} << qint64(101);
        // A day count past either end drives the search to within 2 of it.
        QTest::newRow("older than the oldest")
            << qint64(100) << qint64(110) << 0.5 << "999"
            << QStringList{"100", "110", "105", "102", "101", "101"} << qint64(101);
        QTest::newRow("zero days")
            << qint64(100) << qint64(110) << 0.5 << "0"
            << QStringList{"100", "110", "105", "108", "109", "109"} << qint64(109);
    }
    void searchEnds()
    {
        QFETCH(qint64, low);
        QFETCH(qint64, high);
        QFETCH(double, extraDays);
        QFETCH(QString, days);
        QFETCH(QStringList, heads);
        QFETCH(qint64, pointer);
        server->ClearGroups();
        server->AddGroup(AgedGroup("alt.test", low, high, extraDays));
        SetDays(days);
        QVERIFY(RunUntil(QStringLiteral("Finished!")));
        QCOMPARE(Heads(), heads);
        QCOMPARE(ReadAll(groupFile), ExpectedGroupFile("123", "127.0.0.1", pointer));
    }

    // A probe that tells no age (missing, or a date that cannot be read)
    // keeps the age of the article before it: here 110's 0.5 days, which
    // sends the search down.
    void probeWithoutAge_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("missing article") << QByteArray("423 No such article number 105\r\n");
        QTest::newRow("unreadable date")
            << QByteArray("221 105 <105@x>\r\nFrom: a@b (A)\r\nSubject: Odd\r\n"
                          "Date: sometime last week\r\nMessage-ID: <105@x>\r\n.\r\n");
        QTest::newRow("no date") << QByteArray(
            "221 105 <105@x>\r\nFrom: a@b (A)\r\nSubject: Odd\r\n"
            "Message-ID: <105@x>\r\n.\r\n");
    }
    void probeWithoutAge()
    {
        QFETCH(QByteArray, reply);
        server->SetReplyHook([reply](const QByteArray &line) -> std::optional<QByteArray> {
            if (line == "HEAD 105")
                return reply;
            return std::nullopt;
        });
        QVERIFY(RunUntil(QStringLiteral("Finished!")));
        QCOMPARE(Heads(), QStringList({"100", "110", "105", "102", "104", "104", "104"}));
        QCOMPARE(ReadAll(groupFile), ExpectedGroupFile("123", "127.0.0.1", 104));
        QCOMPARE(Info(4), QStringLiteral("6.5"));
    }

    void emptyServerShowsTheErrorBox()
    {
        TestSupport::StoreServerSettings(QString(), server->Port());
        const QByteArray old = ReadAll(groupFile);
        Command1()->click();
        QCOMPARE(errorBoxes,
                 QStringList({QStringLiteral("Error|NTTP server is not valid.\r\n"
                                             "You should select 'File\\Edit NNTP server'.")}));
        QCOMPARE(Caption(), QStringLiteral("Go"));
        QCOMPARE(LogMessages(*w), QStringList());
        QCOMPARE(server->ConnectionCount(), 0);
        QCOMPARE(ReadAll(groupFile), old);
    }

    // Settings that cannot be used stop the run before it connects.
    void unusableParameters_data()
    {
        QTest::addColumn<QString>("days");
        QTest::addColumn<QString>("setting"); // key=value stored before "Go"
        QTest::addColumn<QString>("row");
        auto row = [](const char *name, const char *days, const char *setting, const char *text) {
            QTest::newRow(name) << days << setting << text;
        };
        row("empty day count", "", "", "The day count \"\" is not a number.");
        row("pasted day count", "1-2", "", "day count \"1-2\"");
        row("port 0", "4", "NNTPPort=0", "NNTP port \"0\" is not a number from 1 to 32767");
        row("port 40000", "4", "NNTPPort=40000", "NNTP port \"40000\"");
        row("port text", "4", "NNTPPort=news", "NNTP port \"news\"");
        row("login text", "4", "Login=yes", "login setting \"yes\"");
        row("security 3", "4", "Security=3", "security setting \"3\" is not 0, 1 or 2");
    }
    void unusableParameters()
    {
        QFETCH(QString, days);
        QFETCH(QString, setting);
        QFETCH(QString, row);
        SetDays(days);
        if (!setting.isEmpty())
            modSettings::WriteSetting(modSettings::AppName, modSettings::Section,
                                      setting.section('=', 0, 0), setting.section('=', 1));
        Command1()->click();
        QCOMPARE(LogMessages(*w).size(), 1);
        QVERIFY2(LogMessages(*w).first().contains(row), qPrintable(LogMessages(*w).first()));
        QCOMPARE(TestSupport::LogIconKeys(*w), QStringList({QStringLiteral("abort")}));
        QCOMPARE(Caption(), QStringLiteral("Go"));
        QTest::qWait(0);
        QCOMPARE(server->ConnectionCount(), 0);
    }

    void backupQuestion_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("yes") << int(modFile::AnswerYes);
        QTest::newRow("no") << int(modFile::AnswerNo);
        QTest::newRow("cancel") << int(modFile::AnswerCancel);
    }
    void backupQuestion()
    {
        QFETCH(int, answer);
        const QString backup = groupFile + QStringLiteral(".bak");
        {
            QFile earlier(backup);
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            earlier.write("earlier backup");
        }
        const QByteArray old = ReadAll(groupFile);
        QStringList asked;
        modFile::SetBackupQuestion([&](const QString &text) {
            asked << text;
            return answer;
        });
        if (answer == modFile::AnswerCancel) {
            Command1()->click();
            QVERIFY(WaitForLogRow(QStringLiteral("Operation aborted")));
            QCOMPARE(TestSupport::LogIconKeys(*w).at(LogMessages(*w).indexOf("Operation aborted")),
                     QStringLiteral("warning"));
            QCOMPARE(Caption(), QStringLiteral("Cancel"));
            QCOMPARE(ReadAll(groupFile), old);
            QCOMPARE(ReadAll(backup), QByteArray("earlier backup"));
            Command1()->click();
            QCOMPARE(Caption(), QStringLiteral("Go"));
        } else {
            QVERIFY(RunUntil(QStringLiteral("Finished!")));
            QCOMPARE(ReadAll(groupFile), ExpectedGroupFile("123", "127.0.0.1", 107));
            QCOMPARE(ReadAll(backup),
                     answer == modFile::AnswerYes ? old : QByteArray("earlier backup"));
        }
        QCOMPARE(asked.size(), 1);
    }

    // The box is read when the file is about to be written, not at "Go".
    void backupUntickedDuringTheSearch()
    {
        auto *check = Control<QCheckBox>("Check1");
        QVERIFY(check->isChecked());
        connect(Control<QTreeWidget>("lstLog")->model(), &QAbstractItemModel::rowsInserted, check,
                [&] {
                    if (LogMessages(*w).last().startsWith(QLatin1String("Search for Article")))
                        check->setChecked(false);
                });
        QVERIFY(RunUntil(QStringLiteral("Finished!")));
        QVERIFY(!check->isChecked());
        QVERIFY(!QFile::exists(groupFile + QStringLiteral(".bak")));
        QCOMPARE(ReadAll(groupFile), ExpectedGroupFile("123", "127.0.0.1", 107));
    }

    void loginOffBetweenRuns()
    {
        server->SetLogin("reader", "secret");
        TestSupport::StoreServerSettings(QStringLiteral("127.0.0.1"), server->Port(),
                                         QStringLiteral("reader"), QStringLiteral("secret"));
        QVERIFY(RunUntil(QStringLiteral("Finished!")));
        QVERIFY(Lines().contains(QStringLiteral("AUTHINFO user reader")));
        QVERIFY(Lines().contains(QStringLiteral("AUTHINFO pass secret")));
        QVERIFY(LogMessages(*w).contains(QStringLiteral("User reader logged in")));

        // Switched off in the store: name and password stay stored but are
        // not sent.
        modSettings::WriteSetting(modSettings::AppName, modSettings::Section,
                                  QStringLiteral("Login"), QStringLiteral("0"));
        server->ClearReceivedLines();
        QVERIFY(RunUntil(QStringLiteral("Finished!")));
        for (const QString &line : Lines())
            QVERIFY2(!line.startsWith(QLatin1String("AUTHINFO")), qPrintable(line));
        QCOMPARE(Lines().first(), QStringLiteral("GROUP alt.test"));
    }

    void cancelDuringTheSearch()
    {
        const QByteArray old = ReadAll(groupFile);
        server->SetSilentFrom(5);
        Command1()->click();
        QVERIFY(WaitForLines(5));
        QCOMPARE(Caption(), QStringLiteral("Cancel"));
        Command1()->click();
        QCOMPARE(Caption(), QStringLiteral("Go"));
        QVERIFY(WaitForLines(6));
        QCOMPARE(Lines().last(), QStringLiteral("QUIT"));
        QCOMPARE(ReadAll(groupFile), old);
        QVERIFY(!QFile::exists(groupFile + QStringLiteral(".bak")));
    }

    // Choosing another file while a run waits ends the run: its pointer
    // can never land in the other group's file.
    void openingAFileCancelsTheRun()
    {
        const QString other = folder + QStringLiteral("/alt.other.nc1");
        QVERIFY(TestSupport::WriteSampleGroupFile(other, QStringLiteral("77")));
        const QByteArray oldOther = ReadAll(other);
        const QByteArray old = ReadAll(groupFile);
        server->SetSilentFrom(5);
        Command1()->click();
        QVERIFY(WaitForLines(5));
        QVERIFY(TestSupport::OpenGroupFile(*w, other));
        QCOMPARE(Caption(), QStringLiteral("Go"));
        QCOMPARE(Info(0), QStringLiteral("alt.other"));
        QVERIFY(WaitForLines(6));
        QCOMPARE(Lines().last(), QStringLiteral("QUIT"));
        QCOMPARE(ReadAll(groupFile), old);
        QCOMPARE(ReadAll(other), oldOther);
        QCOMPARE(Caption(), QStringLiteral("Go"));
    }

    // A run the session cannot carry on ends by itself, with a reason in
    // the log, and the button reads "Go" again.
    void failedRunsEnd_data()
    {
        QTest::addColumn<QString>("row"); // what the log must say, if anything in particular
        QTest::newRow("refused connection") << "";
        QTest::newRow("refused greeting") << "Connexion error";
        QTest::newRow("refused login") << "User reader not logged in";
        QTest::newRow("unknown group") << "Unknown Group alt.test";
        QTest::newRow("empty group") << "Group alt.test holds no articles";
        QTest::newRow("connection lost") << "";
        QTest::newRow("server silent") << "";
    }
    void failedRunsEnd()
    {
        const QString fault = QString::fromLatin1(QTest::currentDataTag());
        QFETCH(QString, row);
        const QByteArray old = ReadAll(groupFile);
        if (fault == QLatin1String("refused connection")) {
            const quint16 port = server->Port();
            server->Stop();
            TestSupport::StoreServerSettings(QStringLiteral("127.0.0.1"), port);
        } else if (fault == QLatin1String("refused greeting")) {
            server->SetGreeting(502, "no service");
        } else if (fault == QLatin1String("refused login")) {
            server->SetLogin("reader", "secret");
            TestSupport::StoreServerSettings(QStringLiteral("127.0.0.1"), server->Port(),
                                             QStringLiteral("reader"), QStringLiteral("wrong"));
        } else if (fault == QLatin1String("unknown group")) {
            server->ClearGroups();
        } else if (fault == QLatin1String("empty group")) {
            server->ClearGroups();
            NntpArticleGroup empty;
            empty.name = "alt.test";
            empty.count = 0;
            server->AddGroup(empty);
        } else if (fault == QLatin1String("connection lost")) {
            server->SetCloseAt(4);
        } else if (fault == QLatin1String("server silent")) {
            w->findChild<CNNTP *>()->SetTimeOutValue(300);
            server->SetSilentFrom(4);
        }
        Command1()->click();
        QVERIFY(QTest::qWaitFor([&] { return Caption() == QLatin1String("Go"); }, 10000));
        const QStringList log = LogMessages(*w);
        const QStringList icons = TestSupport::LogIconKeys(*w);
        if (!row.isEmpty())
            QVERIFY2(log.contains(row), qPrintable(log.join(" | ")));
        QVERIFY2(icons.contains(QStringLiteral("abort")), qPrintable(log.join(" | ")));
        QVERIFY(!log.contains(QStringLiteral("ID founded!")));
        QCOMPARE(ReadAll(groupFile), old);
        // The run is over: a later "Go" starts afresh.
        QCOMPARE(Caption(), QStringLiteral("Go"));
    }

    // A backup that cannot be made stops the run before the file changes.
    void failedBackupWritesNothing()
    {
        const QString backup = groupFile + QStringLiteral(".bak");
        QVERIFY(QDir().mkpath(backup + QStringLiteral("/in-the-way")));
        const QByteArray old = ReadAll(groupFile);
        Command1()->click();
        QVERIFY(WaitForLogRow(QStringLiteral("ID founded!")));
        QVERIFY(QTest::qWaitFor([&] { return Caption() == QLatin1String("Go"); }, 10000));
        const QStringList log = LogMessages(*w);
        QCOMPARE(log.at(log.indexOf(QStringLiteral("ID founded!")) + 1),
                 QStringLiteral("The backup copy alt.test.nc1.bak could not be made: "
                                "the file was not changed."));
        QCOMPARE(TestSupport::LogIconKeys(*w).at(log.indexOf(QStringLiteral("ID founded!")) + 1),
                 QStringLiteral("abort"));
        QCOMPARE(ReadAll(groupFile), old);
    }

    void fileThatCannotBeWritten()
    {
        Control<QCheckBox>("Check1")->setChecked(false);
        QVERIFY(QDir(folder).removeRecursively());
        QVERIFY(RunUntil(QStringLiteral("Finished!")));
        const QStringList log = LogMessages(*w);
        QCOMPARE(log.at(log.indexOf(QStringLiteral("ID founded!")) + 1),
                 QStringLiteral("File access error occured :("));
        QCOMPARE(TestSupport::LogIconKeys(*w).at(log.indexOf(QStringLiteral("ID founded!")) + 1),
                 QStringLiteral("abort"));
    }
};

QTEST_MAIN(tst_resetRun)
#include "tst_resetRun.moc"
