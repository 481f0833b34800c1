// The scripted server is what every client test trusts, so its own replies,
// its fault knobs and its record are checked here with a plain blocking
// client that shares no code with the program.
#include "support/NntpTestServer.h"
#include "support/TestSockets.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <cctype>

using TestSupport::NntpArticleGroup;
using TestSupport::NntpTestServer;
namespace Sockets = TestSupport::Sockets;

namespace
{

class Wire
{
  public:
    explicit Wire(quint16 port)
    {
        m_fd = Sockets::Open(AF_INET, SOCK_STREAM);
        SetTimeout(5000);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_ok = ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~Wire() { Sockets::Close(m_fd); }
    bool ok() const { return m_ok; }
    void SetTimeout(int ms) { Sockets::SetReceiveTimeout(m_fd, ms); }
    void Send(const QByteArray &line)
    {
        QVERIFY(::send(m_fd, line.constData(), line.size(), Sockets::NoSignal) == line.size());
    }
    // Reads until the text ends with the given end, the peer closes, or 5 s pass.
    QByteArray ReadUntil(const QByteArray &end, int *reads = nullptr)
    {
        QByteArray got;
        char buf[4096];
        while (!got.endsWith(end)) {
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got.append(buf, n);
            if (reads)
                ++*reads;
        }
        return got;
    }
    bool PeerClosed()
    {
        char c;
        return ::recv(m_fd, &c, 1, 0) == 0;
    }

  private:
    Sockets::Socket m_fd = Sockets::NoSocket;
    bool m_ok = false;
};

} // namespace

class tst_NntpTestServer : public QObject
{
    Q_OBJECT

  private slots:
    void init()
    {
        m_server = std::make_unique<NntpTestServer>();
        NntpArticleGroup g =
            NntpArticleGroup::Spread("alt.test", 1000, 2000, 1104922800, 1104922800 + 1000 * 3600);
        g.missing = {1500};
        m_server->AddGroup(g);
        QVERIFY(m_server->Start());
        QVERIFY(m_server->Port() > 1024);
    }
    void cleanup() { m_server.reset(); }

    void sessionAndRecord()
    {
        Wire w(m_server->Port());
        QVERIFY(w.ok());
        QCOMPARE(w.ReadUntil("\r\n"),
                 QByteArray("200 Pointwind test server ready (posting ok)\r\n"));
        w.Send("GROUP alt.test\r\n");
        QCOMPARE(w.ReadUntil("\r\n"), QByteArray("211 1001 1000 2000 alt.test\r\n"));
        w.Send("HEAD 1001\r\n");
        const QByteArray head = w.ReadUntil("\r\n.\r\n");
        QVERIFY(head.startsWith("221 1001 <1001.alt.test@test.invalid>\r\n"));
        // Article 1000 is posted 2005-01-05 11:00 UTC, then one per hour.
        QVERIFY2(head.contains("\r\nDate: Wed, 05 Jan 2005 12:00:00 +0000\r\n"), head.constData());
        QCOMPARE(head, m_server->HeadReply("alt.test", 1001));
        w.Send("HEAD 1500\r\n");
        QCOMPARE(w.ReadUntil("\r\n"), QByteArray("423 No article with that number\r\n"));
        w.Send("HEAD 2001\r\n");
        QVERIFY(w.ReadUntil("\r\n").startsWith("423 "));
        w.Send("LIST \r\n");
        QCOMPARE(w.ReadUntil("\r\n.\r\n"),
                 QByteArray("215 list of newsgroups follows\r\nalt.test 2000 1000 y\r\n.\r\n"));
        w.Send("QUIT \r\n");
        QCOMPARE(w.ReadUntil("\r\n"), QByteArray("205 Bye!\r\n"));
        QVERIFY(w.PeerClosed());
        const QList<QByteArray> want = {"GROUP alt.test\r\n", "HEAD 1001\r\n", "HEAD 1500\r\n",
                                        "HEAD 2001\r\n",      "LIST \r\n",     "QUIT \r\n"};
        QCOMPARE(m_server->ReceivedLines(), want);
        QCOMPARE(m_server->ConnectionCount(), 1);
        QTRY_COMPARE(m_server->OpenConnections(), 0);
    }

    void loginRules()
    {
        m_server->SetLogin("joe", "secret", true);
        Wire w(m_server->Port());
        w.ReadUntil("\r\n");
        w.Send("GROUP alt.test\r\n");
        QVERIFY(w.ReadUntil("\r\n").startsWith("480 "));
        w.Send("AUTHINFO pass secret\r\n");
        QVERIFY(w.ReadUntil("\r\n").startsWith("482 "));
        w.Send("AUTHINFO user joe\r\n");
        QVERIFY(w.ReadUntil("\r\n").startsWith("381 "));
        w.Send("AUTHINFO pass wrong\r\n");
        QVERIFY(w.ReadUntil("\r\n").startsWith("481 "));
        w.Send("authinfo USER joe\r\n");
        w.ReadUntil("\r\n");
        w.Send("AUTHINFO PASS secret\r\n");
        QVERIFY(w.ReadUntil("\r\n").startsWith("281 "));
        w.Send("GROUP alt.test\r\n");
        QVERIFY(w.ReadUntil("\r\n").startsWith("211 "));
    }

    void piecesArriveSeparatelyAndWhole()
    {
        m_server->SetSplit(3);
        Wire w(m_server->Port());
        int reads = 0;
        const QByteArray greeting = w.ReadUntil("\r\n", &reads);
        QCOMPARE(greeting, QByteArray("200 Pointwind test server ready (posting ok)\r\n"));
        QVERIFY2(reads > 5, QByteArray::number(reads).constData());

        m_server->SetCutPoints({4});
        w.Send("GROUP alt.test\r\n");
        QCOMPARE(w.ReadUntil("\r\n"), QByteArray("211 1001 1000 2000 alt.test\r\n"));
    }

    void faultKnobs()
    {
        m_server->SetCloseAt(2, 6);
        {
            Wire w(m_server->Port());
            w.ReadUntil("\r\n");
            w.Send("GROUP alt.test\r\n");
            w.ReadUntil("\r\n");
            w.Send("HEAD 1001\r\n");
            QCOMPARE(w.ReadUntil("\r\n.\r\n"), QByteArray("221 10"));
            QVERIFY(w.PeerClosed());
        }
        m_server->SetCloseAt(-1);
        m_server->SetGarbageFrom(1);
        {
            Wire w(m_server->Port());
            QVERIFY(w.ReadUntil("\r\n").startsWith("200 "));
            w.Send("GROUP alt.test\r\n");
            const QByteArray g = w.ReadUntil("\r\n");
            QVERIFY(g.endsWith("\r\n") && !std::isdigit((unsigned char)g.at(0)));
        }
        m_server->SetGarbageFrom(-1);
        m_server->SetSilentFrom(0);
        {
            Wire w(m_server->Port());
            w.SetTimeout(200);
            w.Send("GROUP alt.test\r\n");
            QCOMPARE(w.ReadUntil("\r\n"), QByteArray());
            QCOMPARE(m_server->ReceivedLines().size(), 4);
        }
    }

    void scriptedReplies()
    {
        m_server->SetGreeting(201);
        m_server->SetCommandReply("GROUP", "502 Permission denied\r\n");
        m_server->SetReplyHook([](const QByteArray &line) -> std::optional<QByteArray> {
            if (line == "HEAD 7")
                return QByteArray("221 7 <a@b>\r\n..dot\r\n.\r\n");
            return std::nullopt;
        });
        m_server->SetReplyDelay(30);
        Wire w(m_server->Port());
        QElapsedTimer t;
        t.start();
        QVERIFY(w.ReadUntil("\r\n").startsWith("201 "));
        QVERIFY(t.elapsed() >= 25);
        w.Send("GROUP alt.test\r\n");
        QCOMPARE(w.ReadUntil("\r\n"), QByteArray("502 Permission denied\r\n"));
        w.Send("HEAD 7\r\n");
        QCOMPARE(w.ReadUntil("\r\n.\r\n"), QByteArray("221 7 <a@b>\r\n..dot\r\n.\r\n"));
    }

    void rfcDates()
    {
        QCOMPARE(NntpTestServer::RfcDate(0), QByteArray("Thu, 01 Jan 1970 00:00:00 +0000"));
        QCOMPARE(NntpTestServer::RfcDate(951782400), QByteArray("Tue, 29 Feb 2000 00:00:00 +0000"));
        QCOMPARE(NntpTestServer::RfcDate(-1), QByteArray("Wed, 31 Dec 1969 23:59:59 +0000"));
    }

  private:
    std::unique_ptr<NntpTestServer> m_server;
};

QTEST_GUILESS_MAIN(tst_NntpTestServer)
#include "tst_nntptestserver.moc"
