// The NNTP client against the scripted server: what goes on the wire, what
// the owner is told, and how the session survives faults.
#include "NntpRecorder.h"
#include "common/modMain.h"
#include "net/modSocketSupport.h"
#include "nntp/CNNTP.h"
#include "support/LoopbackPeer.h"
#include "support/NntpTestServer.h"
#include "support/TestSupport.h"

#include <QtTest>
#include <algorithm>

using TestSupport::NntpArticleGroup;
using TestSupport::NntpTestServer;

namespace
{

constexpr qint64 FirstPosted = 1104922800; // 2005-01-05 11:00:00 UTC
constexpr int Wait = 5000;

QString Head(const QString &from, const QString &subject, const QString &date, const QString &id,
             qint64 n)
{
    return QStringLiteral("head:%1|%2|%3|%4|%5").arg(from, subject, date, id).arg(n);
}

// The record the client should report for article n of alt.test.
QString ExpectedHead(qint64 n)
{
    const QString num = QString::number(n);
    return Head(QStringLiteral("Poster ") + num, QStringLiteral("Test article ") + num,
                modMain::FormatDateText(FirstPosted + (n - 1000) * 3600),
                num + QStringLiteral(".alt.test@test.invalid"), n);
}

} // namespace

class tst_CNNTP : public QObject
{
    Q_OBJECT

  private:
    std::unique_ptr<NntpTestServer> server;
    std::unique_ptr<CNNTP> client;
    std::unique_ptr<NntpRecorder> rec;

    void Open(const QString &user = {}, const QString &password = {})
    {
        client->Connect(QStringLiteral("127.0.0.1"), server->Port(), user, password);
    }
    // Connects without login and waits for the session to be ready.
    void OpenReady()
    {
        Open();
        QTRY_VERIFY_WITH_TIMEOUT(rec->Events.contains(QStringLiteral("connected:0")), Wait);
        rec->Events.clear();
    }
    QList<QByteArray> Lines() const { return server->ReceivedLines(); }

  private slots:
    void init()
    {
        server = std::make_unique<NntpTestServer>();
        NntpArticleGroup g = NntpArticleGroup::Spread("alt.test", 1000, 2000, FirstPosted,
                                                      FirstPosted + 1000 * 3600);
        g.missing = {1500};
        server->AddGroup(g);
        QVERIFY(server->Start());
        client = std::make_unique<CNNTP>();
        rec = std::make_unique<NntpRecorder>(client.get());
    }
    void cleanup()
    {
        rec.reset();
        client.reset();
        server.reset();
        modSocketSupport::SetLookupStarter({});
    }

    // ---- connection and greeting ------------------------------------------

    void greeting_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::newRow("200") << 200 << QStringList{"msg1:Connected", "connected:0"}
                             << QList<QByteArray>{};
        QTest::newRow("201 read only")
            << 201 << QStringList{"msg1:Connected", "connected:0"} << QList<QByteArray>{};
        const QString bye = QStringLiteral("msg1:Closing connection. Goodbye!");
        QTest::newRow("400 refused")
            << 400 << QStringList{"msg3:Connexion error", "connected:1", bye}
            << QList<QByteArray>{"QUIT\r\n"};
        QTest::newRow("502 not permitted")
            << 502 << QStringList{"msg3:502 Go away", "msg3:Connexion error", "connected:1", bye}
            << QList<QByteArray>{"QUIT\r\n"};
    }
    void greeting()
    {
        QFETCH(int, code);
        QFETCH(QStringList, events);
        QFETCH(QList<QByteArray>, lines);
        server->SetGreeting(code, code == 502 ? "Go away" : QByteArray());
        Open();
        events.prepend(QStringLiteral("msg1:Connecting to 127.0.0.1..."));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Events, events, Wait);
        QCOMPARE(Lines(), lines);
        QCOMPARE(client->State(), code < 300 ? 1 : 5);
    }

    void connectByNameAgainAndAgain()
    {
        // Connect drops the old socket while the server still talks on it.
        client->Connect(QStringLiteral("localhost"), server->Port(), {}, {});
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("connected:0").size(), 1, Wait);
        client->Connect(QStringLiteral("localhost"), server->Port(), {}, {});
        client->Connect(QStringLiteral("127.0.0.1"), server->Port(), {}, {});
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("connected:0").size(), 2, Wait);
        client->SelectGroup(QStringLiteral("alt.test"));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:"), QStringList{"group:1000-2000"}, Wait);
        QCOMPARE(rec->Failures(), QStringList());
    }

    // ---- login --------------------------------------------------------------

    void login_data()
    {
        QTest::addColumn<int>("userReply");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QList<QByteArray>>("lines");
        const QByteArray user = "AUTHINFO user joe\r\n", pass = "AUTHINFO pass s3cr3t!\r\n";
        QTest::newRow("381 then 281")
            << 381 << "s3cr3t!" << 481 << QStringList{"msg1:User joe logged in", "connected:0"}
            << QList<QByteArray>{user, pass};
        QTest::newRow("250 at once")
            << 250 << "s3cr3t!" << 481 << QStringList{"msg1:User joe logged in", "connected:0"}
            << QList<QByteArray>{user};
        const QString bye = QStringLiteral("msg1:Closing connection. Goodbye!");
        QTest::newRow("482 to the password")
            << 381 << "wrong" << 482
            << QStringList{"msg3:User joe not logged in", "connected:1", bye}
            << QList<QByteArray>{user, "AUTHINFO pass wrong\r\n", "QUIT\r\n"};
        QTest::newRow("502 to the user")
            << 502 << "s3cr3t!" << 481
            << QStringList{"msg3:502 Authentication refused", "msg3:User joe not logged in",
                           "connected:1", bye}
            << QList<QByteArray>{user, "QUIT\r\n"};
    }
    void login()
    {
        QFETCH(int, userReply);
        QFETCH(QString, password);
        QFETCH(int, refusal);
        QFETCH(QStringList, events);
        QFETCH(QList<QByteArray>, lines);
        server->SetLogin("joe", "s3cr3t!", true);
        server->SetUserReply(userReply);
        server->SetPasswordRefusal(refusal);
        Open(QStringLiteral("joe"), password);
        events.prepend(QStringLiteral("msg1:Connected"));
        events.prepend(QStringLiteral("msg1:Connecting to 127.0.0.1..."));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Events, events, Wait);
        QCOMPARE(Lines(), lines);
        for (const QString &e : rec->Events)
            QVERIFY2(!e.contains(password), qPrintable(e));
    }

    void passwordOnlyStillLogsIn()
    {
        // A password without a user name still asks for a login.
        Open(QString(), QStringLiteral("pw"));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("connected:"), QStringList{"connected:0"}, Wait);
        QCOMPARE(Lines(), (QList<QByteArray>{"AUTHINFO user\r\n", "AUTHINFO pass pw\r\n"}));
    }

    // ---- GROUP ------------------------------------------------------------------

    void group_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("events");
        const QString sel = QStringLiteral("msg1:Group alt.test selected");
        QTest::newRow("211") << QByteArray("211 1234 5000 6233 alt.test\r\n")
                             << QStringList{sel, "group:5000-6233"};
        QTest::newRow("all zero") << QByteArray("211 0 0 0 alt.test\r\n")
                                  << QStringList{sel, "group:0-0"};
        QTest::newRow("count 0, last below first")
            << QByteArray("211 0 6234 6233 alt.test\r\n") << QStringList{sel, "group:0-0"};
        QTest::newRow("last below first")
            << QByteArray("211 3 6234 6233 alt.test\r\n") << QStringList{sel, "group:0-0"};
        QTest::newRow("count 0 with marks")
            << QByteArray("211 0 5000 6233 alt.test\r\n") << QStringList{sel, "group:0-0"};
        QTest::newRow("above 2^32") << QByteArray("211 900 4294967000 4294967899 alt.test\r\n")
                                    << QStringList{sel, "group:4294967000-4294967899"};
        QTest::newRow("16 digits")
            << QByteArray("211 2 9007199254740990 9007199254740991 alt.test\r\n")
            << QStringList{sel, "group:9007199254740990-9007199254740991"};
        QTest::newRow("17 digits")
            << QByteArray("211 2 10000000000000000 10000000000000001 alt.test\r\n")
            << QStringList{sel, "group:0-0"};
        QTest::newRow("411") << QByteArray("411 No such group\r\n")
                             << QStringList{"msg3:Unknown Group alt.test", "group:0-0"};
        QTest::newRow("480 login needed")
            << QByteArray("480 Authentication required\r\n")
            << QStringList{"msg3:480 Authentication required", "msg3:Unknown Group alt.test",
                           "group:0-0"};
        QTest::newRow("483 encryption needed")
            << QByteArray("483 Encryption required\r\n")
            << QStringList{"msg3:483 Encryption required", "msg3:Unknown Group alt.test",
                           "group:0-0"};
    }
    void lineBreaksStayInsideTheirCommand()
    {
        OpenReady();
        client->SelectGroup(QStringLiteral("alt.test\r\nQUIT"));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:"), QStringList{"group:0-0"}, Wait);
        QCOMPARE(Lines(), QList<QByteArray>{"GROUP alt.testQUIT\r\n"});
    }

    void group()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, events);
        server->SetCommandReply("GROUP", reply);
        OpenReady();
        client->SelectGroup(QStringLiteral("alt.test"));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:").size(), 1, Wait);
        QCOMPARE(rec->Events, events);
        QCOMPARE(Lines(), QList<QByteArray>{"GROUP alt.test\r\n"});
    }

    // ---- HEAD -----------------------------------------------------------------------

    void head()
    {
        OpenReady();
        client->SelectGroup(QStringLiteral("alt.test"));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:").size(), 1, Wait);
        client->DownloadHeader(1001);
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("head:"), QStringList{ExpectedHead(1001)}, Wait);
        client->DownloadHeader(1500); // missing: 423
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("head:").size(), 2, Wait);
        QCOMPARE(rec->Of("head:").last(), Head({}, {}, {}, {}, 1500));
        QCOMPARE(rec->Failures(), QStringList());
        QCOMPARE(Lines().mid(1), (QList<QByteArray>{"HEAD 1001\r\n", "HEAD 1500\r\n"}));
    }

    void headNumbersInPlainDigits()
    {
        server->SetReplyHook([](const QByteArray &) {
            return std::optional<QByteArray>("423 No such article\r\n");
        });
        OpenReady();
        int done = 0;
        for (double n : {4294967296.0, 9007199254740991.0, 1e15}) {
            client->DownloadHeader(n);
            ++done;
            QTRY_COMPARE_WITH_TIMEOUT(rec->Of("head:").size(), done, Wait);
            QCOMPARE(rec->Of("head:").last(), Head({}, {}, {}, {}, qint64(n)));
        }
        QCOMPARE(Lines(), (QList<QByteArray>{"HEAD 4294967296\r\n", "HEAD 9007199254740991\r\n",
                                             "HEAD 1000000000000000\r\n"}));
    }

    void everySplitGivesTheSameRecord()
    {
        OpenReady();
        client->SelectGroup(QStringLiteral("alt.test"));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:").size(), 1, Wait);
        const int size = int(server->HeadReply("alt.test", 1234).size());
        QVERIFY(size > 200);
        int done = 0;
        auto fetch = [&] {
            client->DownloadHeader(1234);
            ++done;
            QVERIFY(QTest::qWaitFor([&] { return rec->Of("head:").size() == done; }, Wait));
            QCOMPARE(rec->Of("head:").last(), ExpectedHead(1234));
        };
        for (int piece : {1, 2, 3, 4, 5, 7, 64}) {
            server->SetSplit(piece, 50);
            fetch();
        }
        for (int cut = 1; cut < size; ++cut) {
            server->SetCutPoints({cut}, 300);
            fetch();
        }
        QCOMPARE(rec->Failures(), QStringList());
    }

    void blocksWithoutCodeChangeNothing()
    {
        // Short or code-less lines before the real reply, whole or byte by byte.
        server->SetReplyHook([](const QByteArray &line) -> std::optional<QByteArray> {
            if (line.startsWith("GROUP"))
                return QByteArray("abc\r\n20\r\nx\r\n211 3 5 7 alt.test\r\n");
            return std::nullopt;
        });
        for (int piece : {0, 1}) {
            server->SetSplit(piece, 50);
            OpenReady();
            client->SelectGroup(QStringLiteral("alt.test"));
            QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:"), QStringList{"group:5-7"}, Wait);
            QCOMPARE(rec->Events, (QStringList{"msg1:Group alt.test selected", "group:5-7"}));
        }
    }

    void unaskedReplyIsNotHandedOn()
    {
        server->SetReplyHook([](const QByteArray &line) -> std::optional<QByteArray> {
            if (line.startsWith("HEAD"))
                return QByteArray("423 No such article\r\n423 No such article\r\n");
            return std::nullopt;
        });
        OpenReady();
        client->DownloadHeader(5);
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("head:").size(), 1, Wait);
        client->SelectGroup(QStringLiteral("alt.test"));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:").size(), 1, Wait);
        QCOMPARE(rec->Of("head:").size(), 1);
    }

    // ---- LIST ---------------------------------------------------------------------

    void list()
    {
        server->SetCommandReply(
            "LIST", "215 list follows\r\nalt.a 10 1 y\r\nalt.b 20 1 y\r\n..x.dotted 3 1 y\r\n"
                    "alt.bare\r\nalt.c 5 1 y\r\n.\r\n");
        OpenReady();
        client->DownloadGroups();
        QTRY_COMPARE_WITH_TIMEOUT(rec->Events, QStringList{"groups:100"}, Wait);
        // A line without fields is a name of its own, not glued to the next.
        QCOMPARE(rec->Groups.mid(0, 5),
                 (QStringList{"alt.a", "alt.b", ".x.dotted", "alt.bare", "alt.c"}));
        QCOMPARE(rec->Groups.mid(5), QStringList(95, QString()));
        QCOMPARE(Lines(), QList<QByteArray>{"LIST\r\n"});

        server->SetCommandReply("LIST", "503 Program error\r\n");
        client->DownloadGroups();
        server->SetCommandReply("LIST", {});
        client->SelectGroup(QStringLiteral("alt.test"));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:").size(), 1, Wait);
        QCOMPARE(rec->Of("groups:").size(), 1);
    }

    void listOfManyGroups()
    {
        for (int i = 0; i < 250; ++i)
            server->AddGroup(
                NntpArticleGroup::Spread("alt.many." + QByteArray::number(i), 1, 2, 0, 0));
        server->SetSplit(1000, 0);
        OpenReady();
        client->DownloadGroups();
        QTRY_COMPARE_WITH_TIMEOUT(rec->Events, QStringList{"groups:300"}, Wait);
        QCOMPARE(rec->Groups.count(QString()), 300 - 251);
    }

    // ---- capabilities, pipelining, header ranges --------------------------------------

    void capabilities_data()
    {
        using TestSupport::NntpCapabilities;
        QTest::addColumn<int>("caps");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<QString>("rangeCommand");
        const QByteArray caps = "CAPABILITIES\r\n", mode = "MODE READER\r\n";
        const QByteArray user = "AUTHINFO user joe\r\n", pass = "AUTHINFO pass pw\r\n";
        QTest::newRow("500") << int(NntpCapabilities::Unknown) << QString()
                             << QList<QByteArray>{caps} << QString();
        QTest::newRow("HDR, login") << int(NntpCapabilities::Hdr) << "joe"
                                    << QList<QByteArray>{caps, user, pass} << "HDR";
        QTest::newRow("XHDR only") << int(NntpCapabilities::XhdrOnly) << QString()
                                   << QList<QByteArray>{caps} << "XHDR";
        QTest::newRow("transit, login") << int(NntpCapabilities::ModeReader) << "joe"
                                        << QList<QByteArray>{caps, mode, caps, user, pass} << "HDR";
    }
    // Asked for once per connection, MODE READER only where the server
    // offers it and before the login, and no row of its own.
    void capabilities()
    {
        QFETCH(int, caps);
        QFETCH(QString, user);
        QFETCH(QList<QByteArray>, lines);
        QFETCH(QString, rangeCommand);
        server->SetCapabilities(TestSupport::NntpCapabilities(caps));
        server->SetLogin("joe", "pw", !user.isEmpty());
        client->SetAskCapabilities(true);
        Open(user, user.isEmpty() ? QString() : QStringLiteral("pw"));
        QTRY_VERIFY_WITH_TIMEOUT(rec->Events.contains(QStringLiteral("connected:0")), Wait);
        QCOMPARE(Lines(), lines);
        QCOMPARE(client->HeaderRangeCommand(), rangeCommand);
        QCOMPARE(rec->Of(QStringLiteral("msg")).size(), user.isEmpty() ? 2 : 3);
        client->SelectGroup(QStringLiteral("alt.test"));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:"), QStringList{"group:1000-2000"}, Wait);
        QCOMPARE(rec->Failures(), QStringList());
    }

    // An owner that leaves on hearing "not connected", as the reset run
    // does, must not make the client say QUIT a second time.
    void oneQuitAfterRefusal_data()
    {
        QTest::addColumn<bool>("greetingRefused");
        QTest::newRow("login refused") << false;
        QTest::newRow("greeting refused") << true;
    }
    void oneQuitAfterRefusal()
    {
        QFETCH(bool, greetingRefused);
        // Replies leave late, so that a second QUIT would still be read.
        server->SetReplyDelay(50);
        server->SetLogin("joe", "pw", true);
        if (greetingRefused)
            server->SetGreeting(400);
        rec->OnConnected = [&](qint32 status) {
            if (status != 0)
                client->Disconnect();
        };
        Open(QStringLiteral("joe"), QStringLiteral("wrong"));
        QTRY_VERIFY_WITH_TIMEOUT(rec->Events.contains("msg1:Closing connection. Goodbye!"), Wait);
        QTest::qWait(100);
        QCOMPARE(Lines().count("QUIT\r\n"), 1);
        QCOMPARE(rec->Of("connected:"), QStringList{"connected:1"});
    }

    // Replies to HEADs sent together come back in order, each with its own
    // number; 423 and 430 both mean a missing article.
    void pipelinedHeads()
    {
        server->SetReplyDelay(30);
        server->SetReplyHook([](const QByteArray &line) -> std::optional<QByteArray> {
            if (line == "HEAD 1999")
                return QByteArray("430 No such article\r\n");
            return std::nullopt;
        });
        OpenReady();
        client->SelectGroup(QStringLiteral("alt.test"));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:").size(), 1, Wait);
        client->DownloadHeaders({1001, 1500, 1999});
        client->DownloadHeaders({1000});
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("head:").size(), 4, Wait);
        QCOMPARE(rec->Of("head:"),
                 QStringList({ExpectedHead(1001), Head({}, {}, {}, {}, 1500),
                              Head({}, {}, {}, {}, 1999), ExpectedHead(1000)}));
        QCOMPARE(Lines().mid(1), QList<QByteArray>({"HEAD 1001\r\n", "HEAD 1500\r\n",
                                                   "HEAD 1999\r\n", "HEAD 1000\r\n"}));
        QCOMPARE(client->State(), 7);
        QCOMPARE(rec->Failures(), QStringList());
    }

    void dateRanges_data()
    {
        using TestSupport::NntpCapabilities;
        QTest::addColumn<int>("caps");
        QTest::addColumn<bool>("garbage");
        QTest::addColumn<qint64>("low");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("event");
        QTest::newRow("HDR") << int(NntpCapabilities::Hdr) << false << qint64(1498)
                             << QByteArray("HDR Date 1498-1502\r\n")
                             << "range:1498-1502:ok:1498,1499,1501,1502";
        QTest::newRow("none there, 423") << int(NntpCapabilities::Hdr) << false << qint64(2001)
                                         << QByteArray("HDR Date 2001-2005\r\n")
                                         << "range:2001-2005:ok:";
        QTest::newRow("garbage line") << int(NntpCapabilities::Hdr) << true << qint64(1498)
                                      << QByteArray("HDR Date 1498-1502\r\n")
                                      << "range:1498-1502:failed:";
        QTest::newRow("not offered, 500") << int(NntpCapabilities::NoHdr) << false << qint64(1498)
                                          << QByteArray("HDR Date 1498-1502\r\n")
                                          << "range:1498-1502:failed:";
    }
    // A failed range leaves the session in step: the HEADs beside it and
    // after it are answered, in the order sent.
    void dateRanges()
    {
        QFETCH(int, caps);
        QFETCH(bool, garbage);
        QFETCH(qint64, low);
        QFETCH(QByteArray, line);
        QFETCH(QString, event);
        server->SetCapabilities(TestSupport::NntpCapabilities(caps));
        server->SetHeaderRangeGarbage(garbage);
        client->SetAskCapabilities(true);
        OpenReady();
        client->SelectGroup(QStringLiteral("alt.test"));
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:").size(), 1, Wait);
        client->DownloadHeaders({1000}, low, low + 4);
        client->DownloadHeader(1001);
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("head:").size(), 2, Wait);
        QCOMPARE(rec->Of("range:"), QStringList{event});
        QCOMPARE(rec->Of("head:"), QStringList({ExpectedHead(1000), ExpectedHead(1001)}));
        const auto at = [&](const QString &prefix) {
            return std::find_if(rec->Events.begin(), rec->Events.end(),
                                [&](const QString &e) { return e.startsWith(prefix); }) -
                   rec->Events.begin();
        };
        QVERIFY(at("head:") < at("range:"));
        QVERIFY(Lines().contains(line));
        QCOMPARE(rec->Failures(), QStringList());
    }

    // ---- QUIT and 205 ------------------------------------------------------------------

    void quit()
    {
        OpenReady();
        client->Disconnect();
        QTRY_COMPARE_WITH_TIMEOUT(rec->Events, QStringList{"msg1:Closing connection. Goodbye!"},
                                  Wait);
        QCOMPARE(Lines(), QList<QByteArray>{"QUIT\r\n"});
        QCOMPARE(client->State(), 5);
        QTRY_COMPARE_WITH_TIMEOUT(server->OpenConnections(), 0, Wait);

        // Nothing goes out on a closed connection; a command there fails at once.
        client->Disconnect();
        QCOMPARE(rec->Events.size(), 1);
        client->SelectGroup(QStringLiteral("alt.test"));
        QCOMPARE(rec->Failures(), QStringList{"msg3:Socket is not connected."});
        QTest::qWait(50);
        QCOMPARE(Lines(), QList<QByteArray>{"QUIT\r\n"});
    }

    void goodbyeInAnyState()
    {
        server->SetCommandReply("GROUP", "205 Closing\r\n");
        OpenReady();
        client->SelectGroup(QStringLiteral("alt.test"));
        QTRY_VERIFY_WITH_TIMEOUT(rec->Events.contains("msg1:Closing connection. Goodbye!"), Wait);
        QCOMPARE(client->State(), 5);
        QTRY_COMPARE_WITH_TIMEOUT(server->OpenConnections(), 0, Wait);
        QCOMPARE(rec->Of("group:"), QStringList());

        // During the greeting it also ends the wait for the session.
        server->SetGreeting(205, "Bye");
        rec->Events.clear();
        Open();
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("connected:"), QStringList{"connected:1"}, Wait);
    }

    // ---- failures -------------------------------------------------------------------------

    void failures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("beforeReady");
        QTest::newRow("refused port") << "refused"
                                      << "Connection refused." << true;
        QTest::newRow("unknown host") << "unknown"
                                      << "Host not found." << true;
        QTest::newRow("closed before greeting") << "close0"
                                                << "Connection closed by the server." << true;
        QTest::newRow("closed mid-greeting") << "close0partial"
                                             << "Connection closed by the server." << true;
        QTest::newRow("closed mid-reply") << "closeHead"
                                          << "Connection closed by the server." << false;
        QTest::newRow("silent greeting") << "silent0"
                                         << "Connection timed out." << true;
        QTest::newRow("silent to HEAD") << "silentHead"
                                        << "Connection timed out." << false;
        // Said as it is: the server did answer, with nonsense.
        QTest::newRow("garbage to login")
            << "garbageLogin"
            << "The server's answer is no NNTP reply; connection closed." << true;
        QTest::newRow("header too large")
            << "huge"
            << "The server's reply is too large; connection closed." << false;
        QTest::newRow("status line too large")
            << "hugeLine"
            << "The server's reply is too large; connection closed." << false;
    }
    void failures()
    {
        QFETCH(QString, fault);
        QFETCH(QString, text);
        QFETCH(bool, beforeReady);
        client->SetTimeOutValue(500);
        QString host = QStringLiteral("127.0.0.1");
        quint16 port = server->Port();
        QString user;
        if (fault == "refused")
            port = TestSupport::UnusedPort();
        if (fault == "unknown") {
            host = QStringLiteral("no-such-host.invalid");
            modSocketSupport::SetLookupStarter([](qint32 handle, const QByteArray &) {
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [handle] {
                        modSocketSupport::CompleteLookup(handle, {11001, {}, 0});
                    },
                    Qt::QueuedConnection);
            });
        }
        if (fault == "close0")
            server->SetCloseAt(0);
        if (fault == "close0partial")
            server->SetCloseAt(0, 10);
        if (fault == "closeHead")
            server->SetCloseAt(2, 40);
        if (fault == "silent0")
            server->SetSilentFrom(0);
        if (fault == "silentHead")
            server->SetSilentFrom(2);
        if (fault == "garbageLogin") {
            server->SetGarbageFrom(1);
            user = QStringLiteral("joe");
        }
        if (fault == "huge" || fault == "hugeLine") {
            const QByteArray big = fault == "huge"
                                       ? "221 7 <a@b>\r\n" + QByteArray(CNNTP::MaxReplySize, 'X')
                                       : QByteArray(CNNTP::MaxReplySize + 10, '2');
            server->SetReplyHook([big](const QByteArray &line) -> std::optional<QByteArray> {
                if (line.startsWith("HEAD"))
                    return big;
                return std::nullopt;
            });
        }
        client->Connect(host, port, user, {});
        if (!beforeReady) {
            QTRY_COMPARE_WITH_TIMEOUT(rec->Of("connected:"), QStringList{"connected:0"}, Wait);
            client->SelectGroup(QStringLiteral("alt.test"));
            QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:").size(), 1, Wait);
            client->DownloadHeader(1001);
        }
        QTRY_COMPARE_WITH_TIMEOUT(rec->Failures(), QStringList{"msg3:" + text}, Wait);
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("connected:").size(), 1, Wait);
        QCOMPARE(rec->Of("connected:"), QStringList{beforeReady ? "connected:1" : "connected:0"});
        QCOMPARE(rec->Of("head:"), QStringList());
        QCOMPARE(client->State(), 5);
        QTRY_COMPARE_WITH_TIMEOUT(server->OpenConnections(), 0, Wait);
        // One report only, however long one waits.
        QTest::qWait(600);
        QCOMPARE(rec->Failures().size(), 1);

        // The client is ready for a new session afterwards.
        server->SetCloseAt(-1);
        server->SetSilentFrom(-1);
        server->SetGarbageFrom(-1);
        server->SetReplyHook({});
        modSocketSupport::SetLookupStarter({});
        rec->Events.clear();
        Open();
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("connected:"), QStringList{"connected:0"}, Wait);
    }

    void abandonedAttemptsEndQuietly()
    {
        // Disconnect while the name is still being looked up: no QUIT into a
        // socket that is not connected, and nothing comes later.
        modSocketSupport::SetLookupStarter([](qint32, const QByteArray &) {});
        client->SetTimeOutValue(200);
        client->Connect(QStringLiteral("slow.invalid"), server->Port(), {}, {});
        client->Disconnect();
        QCOMPARE(client->State(), 5);
        QTest::qWait(300);
        QCOMPARE(rec->Events, QStringList{"msg1:Connecting to slow.invalid..."});

        // A QUIT the server never answers ends the session without a report.
        modSocketSupport::SetLookupStarter({});
        server->SetSilentFrom(1);
        OpenReady();
        client->Disconnect();
        QCOMPARE(client->State(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(client->State(), 5, Wait);
        QTRY_COMPARE_WITH_TIMEOUT(server->OpenConnections(), 0, Wait);
        QCOMPARE(rec->Events, QStringList());
    }

    void commandAfterServerLeftWhileIdle()
    {
        OpenReady();
        server->Stop(); // closes the connection while nothing is asked
        QTest::qWait(100);
        QCOMPARE(rec->Failures(), QStringList());
        client->SelectGroup(QStringLiteral("alt.test"));
        QCOMPARE(rec->Failures(), QStringList{"msg3:Socket is not connected."});
        // The socket is gone by now: the next command is answered all the same.
        client->SelectGroup(QStringLiteral("alt.test"));
        QCOMPARE(rec->Failures().size(), 2);
    }

    // ---- re-entrancy --------------------------------------------------------------------------

    void chainOfCommandsFromInsideNotifications()
    {
        // Like the reset run: each command is sent from inside the previous
        // reply's notification; delayed replies outlast the short deadline
        // many times over, without a false timeout.
        client->SetTimeOutValue(400);
        server->SetReplyDelay(40);
        server->SetSplit(40, 100);
        qint64 next = 1000;
        rec->OnConnected = [&](qint32) { client->SelectGroup(QStringLiteral("alt.test")); };
        rec->OnGroupSelected = [&](double, double) { client->DownloadHeader(double(next)); };
        rec->OnHeaderComplete = [&](double) {
            if (++next <= 1020)
                client->DownloadHeader(double(next));
            else
                client->Disconnect();
        };
        Open();
        QTRY_VERIFY_WITH_TIMEOUT(rec->Events.contains("msg1:Closing connection. Goodbye!"), 10000);
        QCOMPARE(rec->Failures(), QStringList());
        QCOMPARE(rec->Of("head:").size(), 21);
        QCOMPARE(rec->Of("head:").last(), ExpectedHead(1020));
    }

    void reconnectFromInsideNotification()
    {
        // The owner starts a new session from inside a notification that the
        // old socket is still raising; the old one must outlive it.
        int sessions = 0;
        rec->OnConnected = [&](qint32) {
            if (++sessions < 3)
                Open();
            else
                client->SelectGroup(QStringLiteral("alt.test"));
        };
        Open();
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:"), QStringList{"group:1000-2000"}, Wait);
        QCOMPARE(sessions, 3);
        QCOMPARE(rec->Failures(), QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(server->OpenConnections(), 1, Wait);
    }

    void destroyedWhileWaiting()
    {
        server->SetSilentFrom(1);
        OpenReady();
        client->DownloadHeader(1001);
        QTRY_COMPARE_WITH_TIMEOUT(Lines().size(), 1, Wait);
        client.reset();
        QTRY_COMPARE_WITH_TIMEOUT(Lines().size(), 2, Wait);
        QCOMPARE(Lines().last(), QByteArray("QUIT\r\n"));
    }
};

QTEST_GUILESS_MAIN(tst_CNNTP)
#include "tst_cnntp.moc"
