// The NNTP client over SSL/TLS and STARTTLS against the scripted server
// with throwaway certificates: sessions, the certificate question and its
// pins, mismatched settings and broken handshakes, IPv6.
#include "NntpRecorder.h"
#include "net/modSocketSupport.h"
#include "nntp/CNNTP.h"
#include "support/ModalDriver.h"
#include "support/NntpTestServer.h"
#include "support/TestSockets.h"
#include "support/TlsFixture.h"
#include "ui/modCertificateTrust.h"

#include <QtTest>

using TestSupport::NntpTestServer;
using TestSupport::NntpTls;
using TestSupport::NntpTlsFault;

namespace
{

constexpr int Wait = 10000;
const QString Ready = QStringLiteral("connected:0");
const QString Refused = QStringLiteral("connected:1");

} // namespace

class tst_CNNTP_Tls : public QObject
{
    Q_OBJECT

  private:
    TestSupport::TlsFixture certs;
    std::unique_ptr<NntpTestServer> server;
    std::unique_ptr<CNNTP> client;
    std::unique_ptr<NntpRecorder> rec;
    QStringList asked; // server|reason|fingerprint of each question
    bool answer = false;

    bool Serve(NntpTls mode, const QString &cert, const QString &key, bool ipv6 = false)
    {
        server = std::make_unique<NntpTestServer>();
        server->AddGroup(TestSupport::NntpArticleGroup::Spread("alt.test", 1, 9, 0, 8 * 3600));
        server->SetLogin("reader", "secret", true);
        return server->SetTls(mode, cert, key) && server->Start(0, ipv6);
    }
    // Connects with a login and waits for the outcome.
    QString Open(int security, const QString &host = QStringLiteral("127.0.0.1"))
    {
        rec->Events.clear();
        client->SetSecurity(security);
        client->Connect(host, server->Port(), QStringLiteral("reader"), QStringLiteral("secret"));
        (void)QTest::qWaitFor([&] { return !rec->Of(QStringLiteral("connected:")).isEmpty(); },
                              Wait);
        const QStringList outcome = rec->Of(QStringLiteral("connected:"));
        return outcome.isEmpty() ? QStringLiteral("none") : outcome.first();
    }
    bool PasswordSent() const
    {
        return server->ReceivedLines().contains("AUTHINFO pass secret\r\n");
    }

  private slots:
    void initTestCase()
    {
        certs = TestSupport::TlsFixture::Make();
        QVERIFY2(certs.whyMissing.isEmpty(), qPrintable(certs.whyMissing));
        certs.Trust();
        modCertificateTrust::SetCertificateQuestion(
            [this](const QString &server, const QString &reason, const QString &fingerprint) {
                asked << server + QLatin1Char('|') + reason + QLatin1Char('|') + fingerprint;
                // The deadline must not run while the user thinks.
                QTest::qWait(2 * client->TimeOutValue());
                return answer;
            });
    }
    void cleanupTestCase() { modCertificateTrust::SetCertificateQuestion({}); }
    void init()
    {
        TestSupport::UseFreshSettingsFolder();
        client = std::make_unique<CNNTP>();
        client->SetTimeOutValue(500);
        rec = std::make_unique<NntpRecorder>(client.get());
        asked.clear();
    }
    void cleanup()
    {
        rec.reset();
        client.reset();
        server.reset();
        modSocketSupport::SetBlockingResolver({});
    }

    // Login, GROUP and HEAD inside TLS; the same records as over plain.
    void sessions_data()
    {
        QTest::addColumn<int>("security");
        QTest::addColumn<bool>("byteAtATime");
        QTest::addColumn<QString>("host");
        QTest::newRow("SSL/TLS") << 1 << false << "127.0.0.1";
        QTest::newRow("STARTTLS") << 2 << false << "localhost";
        QTest::newRow("SSL/TLS, records a byte at a time") << 1 << true << "127.0.0.1";
        QTest::newRow("STARTTLS, records a byte at a time") << 2 << true << "127.0.0.1";
    }
    void sessions()
    {
        QFETCH(int, security);
        QFETCH(bool, byteAtATime);
        QFETCH(QString, host);
        const bool ipv6 = host.contains(QLatin1Char(':'));
        QVERIFY(Serve(security == 1 ? NntpTls::Implicit : NntpTls::StartTls, certs.serverCert,
                      certs.serverKey, ipv6));
        server->SetTlsByteAtATime(byteAtATime);
        client->SetTimeOutValue(Wait);
        QCOMPARE(Open(security, host), Ready);
        client->SelectGroup(QStringLiteral("alt.test"));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of(QStringLiteral("group:")), QStringList{"group:1-9"},
                                  Wait);
        client->DownloadHeader(5);
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of(QStringLiteral("head:")).size(), 1, Wait);
        QVERIFY(rec->Events.last().contains(QLatin1String("|Test article 5|")));
        const QStringList info = rec->Of(QStringLiteral("msg1:"));
        QCOMPARE(info.at(0), QStringLiteral("msg1:Connecting to ") + host + QStringLiteral("..."));
        QVERIFY2(info.at(1).startsWith(QLatin1String("msg1:Encrypted connection (TLSv1.3, TLS_")),
                 qPrintable(info.at(1)));
        QCOMPARE(info.at(2), QStringLiteral("msg1:Connected"));
        QVERIFY(asked.isEmpty());
        QList<QByteArray> expected{"AUTHINFO user reader\r\n", "AUTHINFO pass secret\r\n",
                                   "GROUP alt.test\r\n", "HEAD 5\r\n"};
        if (security == 2)
            expected.prepend("STARTTLS\r\n");
        QCOMPARE(server->ReceivedLines(), expected);
    }

    // A certificate no authority vouches for: No ends the session before the
    // login; Yes pins it for the server, which is then not asked about again
    // until its certificate changes.
    void untrustedCertificate()
    {
        QVERIFY(Serve(NntpTls::Implicit, certs.selfCert, certs.selfKey));
        answer = false;
        QCOMPARE(Open(1), Refused);
        QCOMPARE(asked.size(), 1);
        const QStringList parts = asked.first().split(QLatin1Char('|'));
        QCOMPARE(parts.at(0), QStringLiteral("127.0.0.1"));
        QCOMPARE(parts.at(1), QStringLiteral("self-signed certificate"));
        QVERIFY(QRegularExpression(QStringLiteral("^([0-9A-F]{2}:){31}[0-9A-F]{2}$"))
                    .match(parts.at(2))
                    .hasMatch());
        QCOMPARE(rec->Failures(), QStringList{"msg3:The certificate of 127.0.0.1 is not trusted: "
                                              "self-signed certificate."});
        QVERIFY(server->ReceivedLines().isEmpty());
        QVERIFY(modCertificateTrust::PinnedFingerprint(QStringLiteral("127.0.0.1")).isEmpty());

        answer = true;
        QCOMPARE(Open(1), Ready);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(modCertificateTrust::PinnedFingerprint(QStringLiteral("127.0.0.1")), parts.at(2));
        QVERIFY(PasswordSent());

        QCOMPARE(Open(1), Ready);
        QCOMPARE(asked.size(), 2);

        server->SetTls(NntpTls::Implicit, certs.otherSelfCert, certs.otherSelfKey);
        answer = false;
        QCOMPARE(Open(1), Refused);
        QCOMPARE(asked.size(), 3);
        QVERIFY(asked.last() != asked.first());
    }

    // Everything that ends a session before it is ready, with one kind-3
    // row, and never a password in the clear.
    void failures_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("plain server, SSL/TLS setting")
            << "The server does not speak TLS: it answered \"200 Pointwind test server ready "
               "(posting ok)\"; is the port one for plain connections?";
        QTest::newRow("TLS server, no security") << "Connection timed out.";
        QTest::newRow("STARTTLS refused") << "580 Can not initiate TLS negotiation";
        QTest::newRow("STARTTLS unknown to the server") << "500 Unknown command";
        QTest::newRow("wrong name") << "is not trusted: hostname mismatch.";
        QTest::newRow("close during the handshake")
            << "TLS handshake failed: the server closed the connection during the handshake.";
        QTest::newRow("garbage for a handshake") << "TLS handshake failed: ";
        QTest::newRow("silent handshake") << "did not complete the TLS handshake in time";
    }
    void failures()
    {
        QFETCH(QString, row);
        const QString fault = QString::fromLatin1(QTest::currentDataTag());
        int security = 1;
        QString host = QStringLiteral("127.0.0.1");
        NntpTls mode = NntpTls::Implicit;
        if (fault.startsWith(QLatin1String("plain")))
            mode = NntpTls::None;
        if (fault.startsWith(QLatin1String("TLS server")))
            security = 0;
        if (fault.startsWith(QLatin1String("STARTTLS"))) {
            security = 2;
            mode = fault.endsWith(QLatin1String("server")) ? NntpTls::None : NntpTls::StartTls;
        }
        const bool wrongName = fault == QLatin1String("wrong name");
        QVERIFY(Serve(mode, wrongName ? certs.wrongNameCert : certs.serverCert,
                      wrongName ? certs.wrongNameKey : certs.serverKey));
        if (wrongName)
            host = QStringLiteral("localhost");
        if (fault == QLatin1String("STARTTLS refused"))
            server->SetCommandReply("STARTTLS", "580 Can not initiate TLS negotiation\r\n");
        server->SetTlsFault(fault.startsWith(QLatin1String("close"))
                                ? NntpTlsFault::CloseMidHandshake
                            : fault.startsWith(QLatin1String("garbage")) ? NntpTlsFault::Garbage
                            : fault.startsWith(QLatin1String("silent"))  ? NntpTlsFault::Silent
                                                                         : NntpTlsFault::None);
        answer = false;
        QCOMPARE(Open(security, host), Refused);
        QCOMPARE(rec->Failures().size(), 1);
        QVERIFY2(rec->Failures().first().contains(row), qPrintable(rec->Failures().first()));
        QVERIFY(!PasswordSent());
        QVERIFY(!server->ReceivedLines().contains("AUTHINFO user reader\r\n"));
        QCOMPARE(asked.size(), wrongName ? 1 : 0);
    }

    // The server's close_notify ends the session like a close, a record
    // cut short like an error.
    void endOfStream_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QStringList>("failures");
        QTest::newRow("close_notify") << int(NntpTlsFault::CloseNotify) << QStringList();
        QTest::newRow("cut record") << int(NntpTlsFault::CutRecord)
                                    << QStringList{"msg3:The TLS connection was cut off: the "
                                                   "connection ended inside a TLS record."};
    }
    void endOfStream()
    {
        QFETCH(int, fault);
        QFETCH(QStringList, failures);
        QVERIFY(Serve(NntpTls::Implicit, certs.serverCert, certs.serverKey));
        server->SetTlsFault(NntpTlsFault(fault));
        client->SetTimeOutValue(Wait);
        client->SetSecurity(1);
        rec->Events.clear();
        client->Connect(QStringLiteral("127.0.0.1"), server->Port(), {}, {});
        QTRY_VERIFY_WITH_TIMEOUT(rec->Events.contains(failures.isEmpty() ? Ready : Refused), Wait);
        QTest::qWait(100); // a close that came with the greeting has been taken in by now
        QCOMPARE(rec->Failures(), failures);
    }

    // A name whose first address refuses (::1, where nothing listens), or
    // never answers (127.0.0.2 with a full backlog): the next address is
    // tried, at once or after a moment, long before the deadline.
    void nextAddress_data()
    {
        QTest::addColumn<QString>("first");
        QTest::newRow("refused") << "::1";
        QTest::newRow("silent") << "127.0.0.2";
    }
    void nextAddress()
    {
        QFETCH(QString, first);
        QVERIFY(Serve(NntpTls::Implicit, certs.serverCert, certs.serverKey));
        namespace Sockets = TestSupport::Sockets;
        Sockets::Socket blackHole = Sockets::NoSocket;
        std::vector<Sockets::Socket> queued;
        if (first == QLatin1String("127.0.0.2")) {
            blackHole = Sockets::Open(AF_INET, SOCK_STREAM);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(server->Port());
            a.sin_addr.s_addr = htonl(0x7f000002);
            QVERIFY(::bind(blackHole, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0);
            QVERIFY(::listen(blackHole, 0) == 0);
            for (int i = 0; i < 2; ++i) { // the backlog is full from then on
                queued.push_back(Sockets::Open(AF_INET, SOCK_STREAM));
                Sockets::SetNonBlocking(queued.back());
                ::connect(queued.back(), reinterpret_cast<sockaddr *>(&a), sizeof a);
            }
        }
        modSocketSupport::SetBlockingResolver([first](const QByteArray &name) {
            modSocketSupport::LookupResult r{0, name, 0, {}};
            RawSocket::Endpoint slow, good;
            RawSocket::ParseAddress(first, &slow);
            RawSocket::ParseAddress(QStringLiteral("127.0.0.1"), &good);
            r.Addresses = {slow, good};
            return r;
        });
        client->SetTimeOutValue(Wait / 2);
        const QString outcome = Open(1, QStringLiteral("localhost"));
        for (Sockets::Socket fd : queued)
            Sockets::Close(fd);
        Sockets::Close(blackHole);
        QCOMPARE(outcome, Ready);
        QVERIFY(PasswordSent());
    }
};

QTEST_MAIN(tst_CNNTP_Tls)
#include "tst_cnntp_tls.moc"
