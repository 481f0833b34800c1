// Whole reset runs through the main window and the command line against a
// news server nobody here wrote: INN, which tests/support/inn_setup.sh
// installs, fills with articles posted an hour apart (the first one
// cancelled) and serves on 127.0.0.1, once to everyone and once behind a
// login.
#include "app/frmReader.h"
#include "app/modCommandLine.h"
#include "cache/modFile.h"
#include "common/modMain.h"
#include "support/InnManifest.h"
#include "support/ModalDriver.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"
#include "ui/modSettings.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <memory>

class tst_resetRun_inn : public QObject
{
    Q_OBJECT

  private:
    QMap<QString, QString> inn;

    qint64 Value(const char *key) const { return inn.value(QLatin1String(key)).toLongLong(); }

  public:
    static void initMain() { TestSupport::PrepareWindowTests(); }

  private slots:
    void initTestCase()
    {
        const TestSupport::InnManifest manifest = TestSupport::LoadInnManifest();
        POINTWIND_REQUIRE_INN(manifest);
        inn = manifest.values;
        QVERIFY(Value("COUNT") >= 300);
        QVERIFY(Value("READER_PORT") > 0 && Value("READER_PORT") <= 32767);
        QLocale::setDefault(QLocale::c());
        // The present moment: one step after the last article was posted.
        const qint64 now = Value("FIRST_DATE") + Value("COUNT") * Value("STEP");
        modMain::SetPresentMomentSource(
            [now] { return QDateTime::fromSecsSinceEpoch(now, Qt::UTC); });
        modFile::SetBackupQuestion([](const QString &) { return int(modFile::AnswerNo); });
        // The authority that signed INN's certificate, and no other.
        if (inn.contains(QStringLiteral("CA_FILE")))
            qputenv("SSL_CERT_FILE", inn.value(QStringLiteral("CA_FILE")).toLocal8Bit());
    }

    void cleanupTestCase()
    {
        modMain::SetPresentMomentSource({});
        modFile::SetBackupQuestion({});
    }

    void wholeRun_data()
    {
        QTest::addColumn<QString>("portKey");
        QTest::addColumn<bool>("login");
        QTest::newRow("open server") << "READER_PORT" << false;
        QTest::newRow("login") << "AUTH_PORT" << true;
        // Encrypted: the row's name is the security chosen.
        QTest::newRow("SSL/TLS") << "TLS_PORT" << false;
        QTest::newRow("STARTTLS") << "AUTH_PORT" << true;
    }
    void wholeRun()
    {
        QFETCH(QString, portKey);
        QFETCH(bool, login);
        TestSupport::UseFreshSettingsFolder();
        TestSupport::StoreServerSettings(
            QStringLiteral("127.0.0.1"), int(Value(qPrintable(portKey))),
            login ? inn.value("USER") : QString(), login ? inn.value("PASSWORD") : QString());
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const int security = tag == QLatin1String("SSL/TLS")    ? 1
                             : tag == QLatin1String("STARTTLS") ? 2
                                                                : 0;
        QVERIFY2(!security || Value(qPrintable(portKey)) > 0, "the manifest names no TLS port");
        modSettings::WriteSetting(modSettings::AppName, modSettings::Section,
                                  QStringLiteral("Security"), QString::number(security));
        const QString group = inn.value(QStringLiteral("GROUP"));
        const QString file =
            TestSupport::MakeTempFolder() + QLatin1Char('/') + group + QStringLiteral(".nc1");
        QVERIFY(TestSupport::WriteSampleGroupFile(file, QStringLiteral("1733011200")));

        frmReader window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(TestSupport::OpenGroupFile(window, file));
        window.findChild<QLineEdit *>(QStringLiteral("Text2"))->setText(QStringLiteral("10"));
        auto *go = window.findChild<QPushButton *>(QStringLiteral("Command1"));
        go->click();
        QVERIFY2(QTest::qWaitFor([&] { return go->text() == QLatin1String("Finished!"); }, 30000),
                 qPrintable(TestSupport::LogMessages(window).join(QLatin1String(" | "))));

        // Article n was posted (COUNT + 1 - n) steps of an hour before the
        // present: ten days back is article COUNT + 1 - 240. Ages count in
        // tenths of a day, so the articles an hour either side of it are
        // as good a match.
        const qint64 count = Value("COUNT");
        const qint64 expected = count + 1 - 10 * 86400 / Value("STEP");
        const QString found = window.findChild<QLabel *>(QStringLiteral("lbInfo_1"))->text();
        QVERIFY2(qAbs(found.toLongLong() - expected) <= 1, qPrintable(found));
        QCOMPARE(TestSupport::ReadAll(file),
                 TestSupport::ExpectedGroupFile("1733011200", "127.0.0.1", found.toLongLong()));

        const QStringList log = TestSupport::LogMessages(window);
        QVERIFY2(log.contains(QStringLiteral("Group ") + group + QStringLiteral(" selected")),
                 qPrintable(log.join(" | ")));
        QVERIFY(log.contains(
            QStringLiteral("Search for Article posted 10 day(s) ago... Please wait.")));
        QVERIFY(log.contains(group + QStringLiteral(".nc1 created! You can now make an update in "
                                                    "Newsleecher.")));
        if (login)
            QVERIFY(log.contains(QStringLiteral("User ") + inn.value("USER") +
                                 QStringLiteral(" logged in")));
        if (security)
            QVERIFY2(log.at(1).startsWith(QLatin1String("Encrypted connection (TLSv1.")) &&
                         log.at(2) == QLatin1String("Connected"),
                     qPrintable(log.join(" | ")));
        QVERIFY(QTest::qWaitFor(
            [&] {
                return TestSupport::LogMessages(window).contains(
                    QStringLiteral("Closing connection. Goodbye!"));
            },
            10000));
    }

    // The command line's fast search finds the exact crossing: over one
    // open connection, and over two behind the login (a file each).
    void commandLine()
    {
        const QByteArray lu = "1733011200";
        const qint64 expected = Value("COUNT") + 1 - 10 * 86400 / Value("STEP");
        qputenv("POINTWIND_PASSWORD", inn.value("PASSWORD").toLocal8Bit());
        const auto forget = qScopeGuard([] { qunsetenv("POINTWIND_PASSWORD"); });
        for (const int connections : {1, 2}) {
            TestSupport::UseFreshSettingsFolder();
            QStringList arguments = {
                "--days",        "10",
                "--quiet",       "--no-backup",
                "--server",      "127.0.0.1",
                "--connections", QString::number(connections),
                "--port",        inn.value(connections == 1 ? "READER_PORT" : "AUTH_PORT")};
            if (connections > 1)
                arguments << "--user" << inn.value("USER");
            QStringList files;
            for (int i = 0; i < connections; ++i) {
                files << TestSupport::MakeTempFolder() + '/' + inn.value("GROUP") + ".nc1";
                QVERIFY(TestSupport::WriteSampleGroupFile(files.last(), QString::fromLatin1(lu)));
            }
            QCOMPARE(modCommandLine::Run(arguments + files), int(modCommandLine::AllRewritten));
            for (const QString &file : files)
                QCOMPARE(TestSupport::ReadAll(file),
                         TestSupport::ExpectedGroupFile(lu, "127.0.0.1", expected));
        }
    }
};

QTEST_MAIN(tst_resetRun_inn)
#include "tst_resetRun_inn.moc"
