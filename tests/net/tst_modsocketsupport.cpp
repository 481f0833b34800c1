// The process-wide side of the socket layer: service, window, registries,
// error texts and the mapping of the platform's error numbers.
#include "SocketTestUtil.h"
#include "common/Error.h"
#include "net/SocketApi.h"
#include "net/SocketErrorText.h"
#include "support/LoopbackPeer.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QProcess>
#include <QTest>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>

class tst_modSocketSupport : public QObject
{
    Q_OBJECT

private slots:
    void errorTexts();
    void platformErrorsMapToSocketCodes();
    void dottedAddressFormsAgreeAcrossPlatforms();
    void startupFailureRaisesDescription_data();
    void startupFailureRaisesDescription();
    void serviceStartsOnceAndStopsWhenUnused();
    void windowLivesWithTheRegistry();
    void lookupRegistryEmptiesOnCompletion();
    void postedEventForReleasedHandleIsDropped();
    void registrationFailures();
    void lookupThreadsHandBackOrDrop();
    void hungLookupDoesNotHoldUpExit();
};

namespace {

// Holds every lookup thread in the resolver until the test lets them go,
// then answers 127.0.0.1.
class GatedResolver
{
public:
    GatedResolver()
    {
        modSocketSupport::SetBlockingResolver([gate = m_gate](const QByteArray &name) {
            std::unique_lock<std::mutex> lock(gate->Lock);
            gate->Opened.wait_for(lock, std::chrono::minutes(5), [&] { return gate->Open; });
            return modSocketSupport::LookupResult{0, name, htonl(INADDR_LOOPBACK)};
        });
    }
    ~GatedResolver()
    {
        Open();
        modSocketSupport::SetBlockingResolver({});
    }
    void Open()
    {
        std::lock_guard<std::mutex> hold(m_gate->Lock);
        m_gate->Open = true;
        m_gate->Opened.notify_all();
    }

private:
    struct Gate {
        std::mutex Lock;
        std::condition_variable Opened;
        bool Open = false;
    };
    // Shared with the threads, which may outlive this object.
    std::shared_ptr<Gate> m_gate = std::make_shared<Gate>();
};

} // namespace

void tst_modSocketSupport::errorTexts()
{
    QCOMPARE(SocketErrorText(10061), QStringLiteral("Connection refused."));
    QCOMPARE(SocketErrorText(11001), QStringLiteral("Host not found."));
    QCOMPARE(SocketErrorText(10004), QStringLiteral("Interrupted function call."));
    for (long gap : {0L, -1L, 10070L, 10059L, 11005L})
        QCOMPARE(SocketErrorText(gap), QStringLiteral("Unknown error."));
}

void tst_modSocketSupport::platformErrorsMapToSocketCodes()
{
#ifdef _WIN32
    QSKIP("Windows reports the socket codes themselves");
#else
    for (auto [e, code] : {std::pair{ECONNREFUSED, 10061}, {ETIMEDOUT, 10060}, {ECONNRESET, 10054},
                           {EBADF, 10038}, {ENOTSOCK, 10038}, {EAGAIN, 10035}, {EPIPE, 10058}, {0, 0}})
        QCOMPARE(RawSocket::MapErrno(e), code);
    // A number without a counterpart still gets a code with a text.
    QCOMPARE(SocketErrorText(RawSocket::MapErrno(ENOEXEC)), QStringLiteral("System call failure."));
    QCOMPARE(RawSocket::MapLookupError(EAI_NONAME, 0), 11001);
    QCOMPARE(RawSocket::MapLookupError(EAI_AGAIN, 0), 11002);
    QCOMPARE(RawSocket::MapLookupError(EAI_FAIL, 0), 11003);
    QCOMPARE(RawSocket::MapLookupError(EAI_SYSTEM, ETIMEDOUT), 10060);
#endif
}

void tst_modSocketSupport::dottedAddressFormsAgreeAcrossPlatforms()
{
    // The forms of POSIX's inet_aton everywhere: a server written "127.1"
    // must not turn into a name lookup on one platform only.
    for (auto [text, dotted] : {std::pair{"127.0.0.1", "127.0.0.1"}, {"127.1", "127.0.0.1"}, {"10.1.2", "10.1.0.2"},
                                {"0x7f.0.0.010", "127.0.0.8"}, {"3232235777", "192.168.1.1"},
                                {"1.2.3.4 rest", "1.2.3.4"}}) {
        quint32 address = 0;
        QVERIFY2(RawSocket::ParseDotted(QString::fromLatin1(text), &address), text);
        QCOMPARE(RawSocket::FormatDotted(address), QString::fromLatin1(dotted));
    }
    for (const char *text :
         {"", "256.0.0.1", "1.2.3.4.5", "1..2", "1.2.3.", "09.1.1.1", " 1.2.3.4", "news.example", "::1"}) {
        quint32 address = 0;
        QVERIFY2(!RawSocket::ParseDotted(QString::fromLatin1(text), &address), text);
    }
}

void tst_modSocketSupport::startupFailureRaisesDescription_data()
{
    QTest::addColumn<long>("code");
    QTest::addColumn<QString>("description");
    QTest::newRow("10092") << 10092L
                           << QStringLiteral("The version of Windows Sockets API support requested is not provided "
                                             "by this particular Windows Sockets implementation.");
    QTest::newRow("10091") << 10091L
                           << QStringLiteral("The underlying network subsystem is not ready for network "
                                             "communication.");
    QTest::newRow("10067") << 10067L << QString();
}

void tst_modSocketSupport::startupFailureRaisesDescription()
{
    QFETCH(long, code);
    QFETCH(QString, description);
    QVERIFY(!modSocketSupport::IsServiceStarted());
    modSocketSupport::SetServiceStarter([code] { return code; });
    bool raised = false;
    try {
        CSocket socket;
    } catch (const RaisedError &e) {
        raised = true;
        QCOMPARE(e.Number(), code);
        QCOMPARE(e.Source(), QStringLiteral("modSocketSupport.InitWinsockService"));
        QCOMPARE(e.Description(), description);
    }
    modSocketSupport::SetServiceStarter({});
    QVERIFY(raised);
    QVERIFY(!modSocketSupport::IsServiceStarted());
}

void tst_modSocketSupport::serviceStartsOnceAndStopsWhenUnused()
{
    const int starts = modSocketSupport::ServiceStartCount();
    auto *a = new CSocket;
    auto *b = new CSocket;
    QCOMPARE(modSocketSupport::ServiceStartCount(), starts + 1);
    QCOMPARE(modSocketSupport::InitWinsockService(), 65507L);
    QCOMPARE(modSocketSupport::InitWinsockService(), 65507L);
    QCOMPARE(modSocketSupport::ServiceStartCount(), starts + 1);

    // A destroyed object that finds no socket registered stops the service,
    // even though another object is still alive; that one gets no socket
    // until a new object starts the service again.
    delete a;
    QVERIFY(!modSocketSupport::IsServiceStarted());
    b->Bind();
    QCOMPARE(b->SocketHandle(), -1);
    auto *c = new CSocket;
    b->Bind();
    QVERIFY(b->SocketHandle() >= 0);

    // While a socket is registered, destruction leaves the service running.
    delete c;
    QVERIFY(modSocketSupport::IsServiceStarted());
    delete b;
    QVERIFY(!modSocketSupport::IsServiceStarted());
}

void tst_modSocketSupport::windowLivesWithTheRegistry()
{
    QCOMPARE(modSocketSupport::SocketWindow(), nullptr);
    CSocket first, second;
    first.Bind();
    QPointer<QObject> window = modSocketSupport::SocketWindow();
    QVERIFY(window);
    second.Bind();
    QCOMPARE(modSocketSupport::RegisteredSocketCount(), 2);
    QCOMPARE(modSocketSupport::SocketWindow(), window.data());

    first.CloseSocket();
    QCOMPARE(modSocketSupport::SocketWindow(), window.data());
    second.CloseSocket();
    QCOMPARE(modSocketSupport::SocketWindow(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window.isNull());

    first.Bind();
    QVERIFY(modSocketSupport::SocketWindow() != nullptr);
    QCOMPARE(modSocketSupport::RegisteredSocketCount(), 1);
}

void tst_modSocketSupport::lookupRegistryEmptiesOnCompletion()
{
    ManualResolver resolver;
    CSocket a, b;
    a.Connect(QStringLiteral("a.example"), 119);
    b.Connect(QStringLiteral("b.example"), 119);
    QCOMPARE(modSocketSupport::PendingLookupCount(), 2);
    QVERIFY(resolver.Requests[0].first != resolver.Requests[1].first);
    ManualResolver::Fail(resolver.Requests[1].first, 11002);
    QCOMPARE(b.State(), 9);
    QCOMPARE(a.State(), 4);
    ManualResolver::Fail(resolver.Requests[0].first, 11003);
    QCOMPARE(modSocketSupport::PendingLookupCount(), 0);
}

void tst_modSocketSupport::postedEventForReleasedHandleIsDropped()
{
    // An object registered under a re-used handle number must not receive an
    // event posted for the handle's earlier owner.
    CSocket first, second;
    first.Bind();
    const int handle = first.SocketHandle();
    modSocketSupport::PostSocketEvent(handle, modSocketSupport::EventClose);
    first.CloseSocket();
    second.Bind();
    QCOMPARE(second.SocketHandle(), handle);
    int closes = 0;
    connect(&second, &CSocket::OnClose, this, [&] { ++closes; });
    QCoreApplication::processEvents();
    QCOMPARE(closes, 0);
    QCOMPARE(second.SocketHandle(), handle);
}

void tst_modSocketSupport::registrationFailures()
{
    QVERIFY(!modSocketSupport::DeregisterSocket(-1));
    CSocket socket;
    socket.Bind();
    QVERIFY(!modSocketSupport::DeregisterSocket(-1));
    QVERIFY(!modSocketSupport::RegisterSocket(socket.SocketHandle(), &socket)); // already there

    // A handle that cannot be watched is refused and leaves no entry behind.
    CSocket other;
    LastError::Clear();
    QVERIFY(!modSocketSupport::RegisterSocket(1 << 20, &other));
    QCOMPARE(LastError::Get().Number, 10038L);
    QCOMPARE(LastError::Get().Description, QStringLiteral("Socket operation on nonsocket."));
    QCOMPARE(LastError::Get().Source, QStringLiteral("modSocketSupport.RegisterSocket"));
    QCOMPARE(modSocketSupport::RegisteredSocketCount(), 1);
    socket.CloseSocket();
    QCOMPARE(modSocketSupport::SocketWindow(), nullptr);
}

void tst_modSocketSupport::lookupThreadsHandBackOrDrop()
{
    GatedResolver resolver;
    TestSupport::LoopbackPeer peer;
    QVERIFY(peer.Listen());
    CSocket wanted;
    wanted.Connect(QStringLiteral("wanted.example"), peer.Port());
    // Its thread finishes after the owner is gone.
    auto *gone = new CSocket;
    gone->Connect(QStringLiteral("gone.example"), peer.Port());
    delete gone;
    QCOMPARE(modSocketSupport::RunningLookupThreads(), 2);

    // Retrying against a hung resolver does not add threads without end.
    CSocket retrying;
    while (modSocketSupport::RunningLookupThreads() < 32) {
        retrying.Connect(QStringLiteral("retry.example"), peer.Port());
        QVERIFY(retrying.SocketHandle() != -1);
    }
    LastError::Clear();
    retrying.Connect(QStringLiteral("retry.example"), peer.Port());
    QCOMPARE(retrying.SocketHandle(), -1);
    QCOMPARE(LastError::Get().Number, 10055L);
    QCOMPARE(LastError::Get().Source, QStringLiteral("modSocketSupport.ResolveHost"));

    resolver.Open();
    QTRY_COMPARE(wanted.State(), 7);
    QVERIFY(peer.TryAccept());
    QTRY_COMPARE(modSocketSupport::RunningLookupThreads(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(modSocketSupport::PendingLookupCount(), 0);
    QCOMPARE(retrying.SocketHandle(), -1);
}

void tst_modSocketSupport::hungLookupDoesNotHoldUpExit()
{
    // The helper's lookup hangs for ten minutes; a program that waits for
    // it at exit never makes the deadline.
    QProcess helper;
    QElapsedTimer timer;
    timer.start();
    helper.start(QStringLiteral(LOOKUP_EXIT_HELPER), {});
    QVERIFY(helper.waitForStarted());
    const bool finished = helper.waitForFinished(30000);
    if (!finished) {
        helper.kill();
        helper.waitForFinished();
    }
    QVERIFY2(finished, "the program waited for its hung lookup at exit");
    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), 0);
    qInfo("exit during a hung lookup took %lld ms", qint64(timer.elapsed()));
}

QTEST_MAIN(tst_modSocketSupport)
#include "tst_modsocketsupport.moc"
