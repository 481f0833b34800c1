// Whole reset runs through the main window over SSL/TLS, STARTTLS and IPv6:
// the file written is the same as over plain IPv4, and a certificate the
// user refuses ends the run cleanly.
#include "app/frmReader.h"
#include "cache/modFile.h"
#include "common/modMain.h"
#include "support/ModalDriver.h"
#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"
#include "support/TlsFixture.h"
#include "ui/modCertificateTrust.h"
#include "ui/modSettings.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

using TestSupport::LogMessages;
using TestSupport::NntpTls;
using TestSupport::ReadAll;

class tst_resetRunTls : public QObject
{
    Q_OBJECT

  private:
    TestSupport::TlsFixture certs;
    std::unique_ptr<TestSupport::NntpTestServer> server;
    std::unique_ptr<frmReader> w;
    QString groupFile;
    int questions = 0;

    QPushButton *Command1() { return TestSupport::Control<QPushButton>(*w, "Command1"); }

    // Serves alt.test (100..110, article n posted 110 - n + 0.5 days ago),
    // opens the group file and presses "Go" until the button reads `caption`.
    bool Run(NntpTls mode, int security, const QString &host, const QString &caption,
             const QString &cert = {}, const QString &key = {})
    {
        const qint64 now = modMain::PresentMoment().toSecsSinceEpoch();
        server = std::make_unique<TestSupport::NntpTestServer>();
        TestSupport::NntpArticleGroup group;
        group.name = "alt.test";
        group.low = 100;
        group.high = 110;
        group.postedAt = [now](qint64 n) { return now - qint64((110 - n + 0.5) * 86400); };
        server->AddGroup(group);
        server->SetLogin("reader", "secret", true);
        if (!server->SetTls(mode, cert.isEmpty() ? certs.serverCert : cert,
                            key.isEmpty() ? certs.serverKey : key) ||
            !TestSupport::StartOnSettingsPort(*server, host.contains(QLatin1Char(':'))))
            return false;
        TestSupport::StoreServerSettings(host, server->Port(), QStringLiteral("reader"),
                                         QStringLiteral("secret"));
        modSettings::WriteSetting(modSettings::AppName, modSettings::Section,
                                  QStringLiteral("Security"), QString::number(security));
        w = std::make_unique<frmReader>();
        w->show();
        if (!TestSupport::OpenGroupFile(*w, groupFile))
            return false;
        TestSupport::Control<QLineEdit>(*w, "Text2")->setText(QStringLiteral("4"));
        Command1()->click();
        if (QTest::qWaitFor([&] { return Command1()->text() == caption; }, 10000))
            return true;
        qWarning("log: %s", qPrintable(LogMessages(*w).join(QLatin1String(" | "))));
        return false;
    }

  public:
    static void initMain() { TestSupport::PrepareWindowTests(); }

  private slots:
    void initTestCase()
    {
        certs = TestSupport::TlsFixture::Make();
        QVERIFY2(certs.whyMissing.isEmpty(), qPrintable(certs.whyMissing));
        certs.Trust();
        modFile::SetBackupQuestion([](const QString &) { return int(modFile::AnswerYes); });
        modCertificateTrust::SetCertificateQuestion(
            [this](const QString &, const QString &, const QString &) {
                ++questions;
                return false;
            });
    }
    void cleanupTestCase()
    {
        modFile::SetBackupQuestion({});
        modCertificateTrust::SetCertificateQuestion({});
    }
    void init()
    {
        TestSupport::UseFreshSettingsFolder();
        groupFile = TestSupport::MakeTempFolder() + QStringLiteral("/alt.test.nc1");
        QVERIFY(TestSupport::WriteSampleGroupFile(groupFile, QStringLiteral("123")));
        questions = 0;
    }
    void cleanup()
    {
        w.reset();
        server.reset();
    }

    void wholeRun_data()
    {
        QTest::addColumn<int>("security");
        QTest::addColumn<QString>("host");
        QTest::newRow("SSL/TLS") << 1 << "127.0.0.1";
        QTest::newRow("STARTTLS") << 2 << "localhost";
        QTest::newRow("plain over ::1") << 0 << "::1";
        QTest::newRow("SSL/TLS over [::1]") << 1 << "[::1]";
    }
    void wholeRun()
    {
        QFETCH(int, security);
        QFETCH(QString, host);
        const NntpTls mode = NntpTls(security);
        QVERIFY(Run(mode, security, host, QStringLiteral("Finished!")));
        QCOMPARE(ReadAll(groupFile), TestSupport::ExpectedGroupFile("123", host.toLatin1(), 107));
        const QStringList log = LogMessages(*w);
        QCOMPARE(log.at(0), QStringLiteral("Connecting to ") + host + QStringLiteral("..."));
        QCOMPARE(log.at(security ? 2 : 1), QStringLiteral("Connected"));
        if (security)
            QVERIFY2(log.at(1).startsWith(QLatin1String("Encrypted connection (TLS")),
                     qPrintable(log.at(1)));
    }

    // No to the question: one row that says why, nothing written, the
    // password never sent, and "Go" again.
    void refusedCertificate()
    {
        const QByteArray old = ReadAll(groupFile);
        QVERIFY(Run(NntpTls::StartTls, 2, QStringLiteral("127.0.0.1"), QStringLiteral("Go"),
                    certs.selfCert, certs.selfKey));
        QCOMPARE(questions, 1);
        QCOMPARE(TestSupport::LogIconKeys(*w).count(QStringLiteral("abort")), 1);
        QVERIFY(LogMessages(*w).contains(QStringLiteral(
            "The certificate of 127.0.0.1 is not trusted: self-signed certificate.")));
        QCOMPARE(ReadAll(groupFile), old);
        QCOMPARE(server->ReceivedLines(), QList<QByteArray>{"STARTTLS\r\n"});
    }
};

QTEST_MAIN(tst_resetRunTls)
#include "tst_resetRun_tls.moc"
