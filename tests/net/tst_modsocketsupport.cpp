// The process-wide side of the socket layer: service, window, registries,
// error texts and the mapping of the platform's error numbers.
#include "SocketTestUtil.h"
#include "common/Error.h"
#include "net/SocketErrorText.h"

#include <QPointer>
#include <QTest>
#include <cerrno>
#include <netdb.h>

class tst_modSocketSupport : public QObject
{
    Q_OBJECT

private slots:
    void errorTexts();
    void platformErrorsMapToSocketCodes();
    void startupFailureRaisesDescription_data();
    void startupFailureRaisesDescription();
    void serviceStartsOnceAndStopsWhenUnused();
    void windowLivesWithTheRegistry();
    void lookupRegistryEmptiesOnCompletion();
    void postedEventForReleasedHandleIsDropped();
    void registrationFailures();
};

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
    for (auto [e, code] : {std::pair{ECONNREFUSED, 10061}, {ETIMEDOUT, 10060}, {ECONNRESET, 10054},
                           {EBADF, 10038}, {ENOTSOCK, 10038}, {EAGAIN, 10035}, {EPIPE, 10058}, {0, 0}})
        QCOMPARE(RawSocket::MapErrno(e), code);
    // A number without a counterpart still gets a code with a text.
    QCOMPARE(SocketErrorText(RawSocket::MapErrno(ENOEXEC)), QStringLiteral("System call failure."));
    QCOMPARE(RawSocket::MapLookupError(EAI_NONAME, 0), 11001);
    QCOMPARE(RawSocket::MapLookupError(EAI_AGAIN, 0), 11002);
    QCOMPARE(RawSocket::MapLookupError(EAI_FAIL, 0), 11003);
    QCOMPARE(RawSocket::MapLookupError(EAI_SYSTEM, ETIMEDOUT), 10060);
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

QTEST_MAIN(tst_modSocketSupport)
#include "tst_modsocketsupport.moc"
