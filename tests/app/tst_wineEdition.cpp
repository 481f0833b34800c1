// The Windows command line under Wine against this machine's test server:
// the worked example rewritten over a plain connection and over SSL/TLS
// checked against the test authority. scripts/windows.sh runs it with the
// program in POINTWIND_WINE_CLI and Wine in POINTWIND_WINE.
#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"
#include "support/TlsFixture.h"

#include <QDateTime>
#include <QProcess>
#include <QTest>

using TestSupport::NntpTls;

class tst_wineEdition : public QObject
{
    Q_OBJECT

    QString wine = qEnvironmentVariable("POINTWIND_WINE");
    QString cli = qEnvironmentVariable("POINTWIND_WINE_CLI");
    TestSupport::TlsFixture certs;

  private slots:
    void initTestCase()
    {
        if (wine.isEmpty() || cli.isEmpty())
            QSKIP("POINTWIND_WINE and POINTWIND_WINE_CLI name Wine and pointwind-cli.exe");
        certs = TestSupport::TlsFixture::Make();
        QVERIFY2(certs.whyMissing.isEmpty(), qPrintable(certs.whyMissing));
    }

    void workedExample_data()
    {
        QTest::addColumn<int>("tls");
        QTest::newRow("plain") << int(NntpTls::None);
        QTest::newRow("SSL/TLS") << int(NntpTls::Implicit);
    }
    void workedExample()
    {
        QFETCH(int, tls);
        // Articles 100..110, article n posted 110 - n + 0.5 days ago: four
        // days back is crossed at article 106.
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        TestSupport::NntpArticleGroup group;
        group.name = "alt.wine";
        group.low = 100;
        group.high = 110;
        group.postedAt = [now](qint64 n) { return now - qint64((110 - n + 0.5) * 86400); };
        TestSupport::NntpTestServer server;
        server.AddGroup(group);
        if (NntpTls(tls) != NntpTls::None)
            QVERIFY(server.SetTls(NntpTls(tls), certs.serverCert, certs.serverKey));
        QVERIFY(server.Start());

        const QString file = TestSupport::MakeTempFolder() + QStringLiteral("/alt.wine.nc1");
        QVERIFY(TestSupport::WriteSampleGroupFile(file, QStringLiteral("7")));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SSL_CERT_FILE"), certs.caFile);
        p.setProcessEnvironment(env);
        p.start(wine, {cli, "--server", "127.0.0.1", "--port", QString::number(server.Port()),
                       "--security", NntpTls(tls) == NntpTls::None ? "none" : "tls", "--days", "4",
                       "--no-backup", file});
        QVERIFY(p.waitForFinished(120000));
        const QByteArray out = p.readAllStandardOutput() + p.readAllStandardError();
        QVERIFY2(p.exitCode() == 0, out.constData());
        QCOMPARE(TestSupport::ReadAll(file), TestSupport::ExpectedGroupFile("7", "127.0.0.1", 106));
    }
};

QTEST_GUILESS_MAIN(tst_wineEdition)
#include "tst_wineEdition.moc"
