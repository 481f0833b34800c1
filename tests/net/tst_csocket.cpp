// CSocket over TCP against a plain loopback peer.
#include "SocketTestUtil.h"
#include "common/Error.h"
#include "support/LoopbackPeer.h"
#include "support/TestSupport.h"

#include <QPointer>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTest>

using TestSupport::LoopbackPeer;

class tst_CSocket : public QObject
{
    Q_OBJECT

private slots:
    void connectByAddress();
    void connectByName();
    void connectThroughRealResolver();
    void connectTriesTheNamesAddressesInTurn();
    void lateLookupCompletionsAreDropped();
    void failedLookupKeepsHandle();
    void lookupThatCannotStart();
    void connectionRefused();
    void connectFailingAtOnceRaisesError();
    void weCloseFirstAndCloseTwice();
    void peerSendsAndClosesAtOnce();
    void weCloseOnTheLastReply();
    void resetByPeer();
    void resetSeenWithoutReadinessNotice();
    void writeAfterPeerClosedDoesNotKill();
    void smallSendProgressThenComplete();
    void largeTransferFinishesThroughWriteEvents();
    void sendDataReplacesUnsentTail();
    void listenAndAccept();
    void acceptOnTheListeningObject();
    void acceptClosesOverwrittenHandle();
    void releaseClosesUnregisteredHandle();
};

void tst_CSocket::connectByAddress()
{
    LoopbackPeer peer;
    QVERIFY(peer.Listen());
    CSocket socket;
    QSignalSpy connected(&socket, &CSocket::OnConnect);
    QCOMPARE(socket.State(), 0);
    QCOMPARE(socket.SocketHandle(), -1);

    socket.Connect(QStringLiteral("127.0.0.1"), peer.Port());
    QCOMPARE(socket.State(), 6);
    QVERIFY(socket.SocketHandle() >= 0);
    QCOMPARE(socket.RemoteHostIP(), QString()); // not set on the dotted path
    QCOMPARE(modSocketSupport::PendingLookupCount(), 0);

    QTRY_COMPARE(socket.State(), 7);
    QCOMPARE(connected.count(), 1);
    QCOMPARE(socket.LocalIP(), QStringLiteral("127.0.0.1"));
    QCOMPARE(socket.LocalHostName(), socket.LocalIP()); // no blocking reverse lookup
    QVERIFY(socket.LocalPort() > 0);
    QCOMPARE(socket.RemotePort(), qint32(peer.Port()));
    QVERIFY(peer.TryAccept());
}

void tst_CSocket::connectByName()
{
    ManualResolver resolver;
    LoopbackPeer peer;
    QVERIFY(peer.Listen());
    CSocket socket;
    QList<int> states;
    connect(&socket, &CSocket::OnConnect, this, [&] { states.append(socket.State()); });

    socket.Connect(QStringLiteral("news.example"), QStringLiteral("%1").arg(peer.Port()));
    QCOMPARE(socket.State(), 4);
    QCOMPARE(resolver.Requests.size(), 1);
    QCOMPARE(resolver.Requests[0].second, QByteArray("news.example"));

    ManualResolver::Succeed(resolver.Requests[0].first, "canonical.news.example", "127.0.0.1");
    QCOMPARE(socket.State(), 6);
    QCOMPARE(socket.RemoteHost(), QStringLiteral("canonical.news.example"));
    QCOMPARE(socket.RemoteHostIP(), QStringLiteral("127.0.0.1"));
    QCOMPARE(modSocketSupport::PendingLookupCount(), 0);
    QTRY_COMPARE(states, QList<int>{7});
}

void tst_CSocket::connectThroughRealResolver()
{
    if (RawSocket::ResolveBlocking("localhost").Error != 0)
        QSKIP("localhost does not resolve on this machine");
    LoopbackPeer peer;
    QVERIFY(peer.Listen());
    CSocket socket;
    socket.Connect(QStringLiteral("localhost"), peer.Port());
    QCOMPARE(socket.State(), 4); // the lookup runs off this thread
    QTRY_COMPARE(socket.State(), 7);
    QCOMPARE(socket.RemoteHostIP(), QStringLiteral("127.0.0.1"));
    QVERIFY(peer.TryAccept());
}

void tst_CSocket::connectTriesTheNamesAddressesInTurn()
{
    ManualResolver resolver;
    LoopbackPeer peer;
    QVERIFY(peer.Listen());
    RawSocket::Endpoint closed, open; // nothing listens on 127.0.0.2
    QVERIFY(RawSocket::ParseAddress(QStringLiteral("127.0.0.2"), &closed));
    QVERIFY(RawSocket::ParseAddress(QStringLiteral("127.0.0.1"), &open));

    CSocket socket;
    ErrorLog errors(socket);
    QSignalSpy connected(&socket, &CSocket::OnConnect);
    socket.Connect(QStringLiteral("news.example"), peer.Port());
    modSocketSupport::CompleteLookup(resolver.Requests[0].first, {0, "news.example", 0, {closed, open}});
    QTRY_COMPARE(socket.State(), 7);
    QCOMPARE(connected.count(), 1);
    QCOMPARE(socket.RemoteHostIP(), QStringLiteral("127.0.0.1"));
    QVERIFY(errors.Entries.isEmpty());
    QCOMPARE(modSocketSupport::RegisteredSocketCount(), 1); // the refused attempt is closed
    QVERIFY(peer.TryAccept());

    // Every address refused: the owner hears of it once.
    CSocket refused;
    ErrorLog refusals(refused);
    refused.Connect(QStringLiteral("other.example"), TestSupport::UnusedPort());
    modSocketSupport::CompleteLookup(resolver.Requests[1].first, {0, "other.example", 0, {closed, open}});
    QTRY_COMPARE(refusals.Entries.size(), 1);
    QCOMPARE(refusals.Entries[0].Number, 10061);
    QTest::qWait(50);
    QCOMPARE(refusals.Entries.size(), 1);
    QVERIFY(refused.State() != 7);
}

void tst_CSocket::lateLookupCompletionsAreDropped()
{
    ManualResolver resolver;
    CSocket socket;
    ErrorLog errors(socket);
    socket.Connect(QStringLiteral("first.example"), 119);
    socket.Connect(QStringLiteral("second.example"), 119);
    QCOMPARE(modSocketSupport::PendingLookupCount(), 1);
    // The superseded lookup comes back, even as a failure: nothing happens.
    ManualResolver::Fail(resolver.Requests[0].first, 11001);
    ManualResolver::Succeed(resolver.Requests[0].first, "first.example", "127.0.0.1");
    // A completion that names another handle than the pending one is stale.
    socket.PostGetHostEvent(resolver.Requests[1].first + 100, 0x0100007f, QStringLiteral("x"), 0);
    QCOMPARE(socket.State(), 4);
    QCOMPARE(socket.RemoteHostIP(), QString());

    // After CloseSocket the old handle number may belong to another socket.
    socket.CloseSocket();
    QCOMPARE(socket.State(), 0);
    QCOMPARE(modSocketSupport::PendingLookupCount(), 0);
    CSocket other;
    other.Bind();
    ManualResolver::Succeed(resolver.Requests[1].first, "second.example", "127.0.0.1");
    QCOMPARE(socket.State(), 0);
    QCOMPARE(other.State(), 0);
    QVERIFY(errors.Entries.isEmpty());

    // An owner destroyed while its lookup runs is never called.
    auto *gone = new CSocket;
    gone->Connect(QStringLiteral("third.example"), 119);
    delete gone;
    QCOMPARE(modSocketSupport::PendingLookupCount(), 0);
    ManualResolver::Succeed(resolver.Requests[2].first, "third.example", "127.0.0.1");
}

void tst_CSocket::failedLookupKeepsHandle()
{
    ManualResolver resolver;
    CSocket socket;
    ErrorLog errors(socket);
    socket.Connect(QStringLiteral("no-such-host.invalid"), 119);
    const int handle = socket.SocketHandle();
    ManualResolver::Fail(resolver.Requests[0].first, 11001);

    QCOMPARE(socket.State(), 9);
    QCOMPARE(socket.SocketHandle(), handle);
    QVERIFY(handle >= 0);
    QCOMPARE(errors.Entries.size(), 1);
    QCOMPARE(errors.Entries[0].Number, 11001);
    QCOMPARE(errors.Entries[0].Description, QStringLiteral("Host not found."));
    QCOMPARE(errors.Entries[0].Source, QString());
    QCOMPARE(modSocketSupport::PendingLookupCount(), 0);
}

void tst_CSocket::lookupThatCannotStart()
{
    CSocket socket;
    ErrorLog errors(socket);
    LastError::Clear();
    socket.Connect(QString(300, QLatin1Char('a')), 119);
    QCOMPARE(socket.State(), 4);
    QCOMPARE(socket.SocketHandle(), -1);
    QVERIFY(errors.Entries.isEmpty());
    QCOMPARE(LastError::Get().Number, 10022L);
    QCOMPARE(LastError::Get().Source, QStringLiteral("modSocketSupport.ResolveHost"));
}

void tst_CSocket::connectionRefused()
{
    CSocket socket;
    ErrorLog errors(socket);
    socket.Connect(QStringLiteral("127.0.0.1"), TestSupport::UnusedPort());
    QTRY_COMPARE(socket.State(), 9);
    QCOMPARE(socket.SocketHandle(), -1);
    QCOMPARE(errors.Entries.size(), 1);
    QCOMPARE(errors.Entries[0].Number, 10061);
    QCOMPARE(errors.Entries[0].Description, QStringLiteral("Connection refused."));
    QCOMPARE(errors.Entries[0].HandleThen, -1);
    QCOMPARE(modSocketSupport::RegisteredSocketCount(), 0);
}

void tst_CSocket::connectFailingAtOnceRaisesError()
{
    CSocket socket;
    ErrorLog errors(socket);
    socket.Listen(); // connect on a listening socket fails on the spot
    QCOMPARE(socket.State(), 2);
    socket.Connect(QStringLiteral("127.0.0.1"), 119);
    QCOMPARE(socket.State(), 9);
    QCOMPARE(socket.SocketHandle(), -1);
    QCOMPARE(errors.Entries.size(), 1);
#ifdef _WIN32
    QCOMPARE(errors.Entries[0].Number, 10022); // Winsock: "invalid argument, a listening socket"
#else
    QCOMPARE(errors.Entries[0].Number, 10056); // POSIX: "already connected"
#endif
    QCOMPARE(errors.Entries[0].Source, QString());
}

void tst_CSocket::weCloseFirstAndCloseTwice()
{
    // Close, the peer answers with its own close: OnClose, state 0.
    {
        LoopbackPeer peer;
        CSocket socket;
        QSignalSpy closed(&socket, &CSocket::OnClose);
        QVERIFY(TestSupport::ConnectSocket(socket, peer));
        socket.CloseSocket();
        QCOMPARE(socket.State(), 8);
        QTRY_VERIFY(peer.Pump());
        peer.Close();
        QTRY_COMPARE(closed.count(), 1);
        QCOMPARE(socket.State(), 0);
        QCOMPARE(socket.SocketHandle(), -1);
    }
    // Close twice: the second releases at once and nothing follows, not even
    // the completion of a send that the loop has not delivered yet.
    {
        LoopbackPeer peer;
        CSocket socket;
        QSignalSpy closed(&socket, &CSocket::OnClose);
        QSignalSpy complete(&socket, &CSocket::OnSendComplete);
        QVERIFY(TestSupport::ConnectSocket(socket, peer));
        socket.SendData(QStringLiteral("QUIT\r\n"));
        socket.CloseSocket();
        QCOMPARE(socket.State(), 8);
        socket.CloseSocket();
        QCOMPARE(socket.State(), 0);
        QCOMPARE(socket.SocketHandle(), -1);
        QTRY_VERIFY(peer.Pump());
        QCOMPARE(peer.Received(), QByteArray("QUIT\r\n"));
        QCoreApplication::processEvents();
        QCOMPARE(closed.count(), 0);
        QCOMPARE(complete.count(), 0);
    }
}

void tst_CSocket::peerSendsAndClosesAtOnce()
{
    LoopbackPeer peer;
    CSocket socket;
    QVERIFY(TestSupport::ConnectSocket(socket, peer));
    QByteArray sent;
    for (int i = 0; sent.size() < 3'000'000; ++i)
        sent += QByteArray::number(i) + ' ';

    QByteArray got;
    QList<int> events; // 1 data, 2 close
    int stateAtClose = -1;
    connect(&socket, &CSocket::OnDataArrival, this, [&] {
        QByteArray chunk;
        socket.GetData(chunk);
        got += chunk;
        if (events.isEmpty() || events.last() != 1)
            events.append(1);
    });
    connect(&socket, &CSocket::OnClose, this, [&] {
        events.append(2);
        stateAtClose = socket.State();
    });
    QVERIFY(peer.Send(sent));
    peer.Close();
    QTRY_COMPARE(stateAtClose, 0);
    QCOMPARE(got.size(), sent.size());
    QVERIFY(got == sent);
    QCOMPARE(events, (QList<int>{1, 2}));
    QCOMPARE(socket.SocketHandle(), -1);
}

void tst_CSocket::weCloseOnTheLastReply()
{
    // What the news client does on a goodbye: it closes while the server's
    // own close is already on its way. The close must still finish.
    LoopbackPeer peer;
    CSocket socket;
    ErrorLog errors(socket);
    QSignalSpy closed(&socket, &CSocket::OnClose);
    QVERIFY(TestSupport::ConnectSocket(socket, peer));
    connect(&socket, &CSocket::OnDataArrival, this, [&] {
        QByteArray got;
        socket.GetData(got);
        socket.CloseSocket();
    });
    QVERIFY(peer.Send("205 bye\r\n"));
    peer.Close();
    QTRY_COMPARE(closed.count(), 1);
    QCOMPARE(socket.State(), 0);
    QVERIFY(errors.Entries.isEmpty());
}

void tst_CSocket::resetByPeer()
{
    LoopbackPeer peer;
    CSocket socket;
    ErrorLog errors(socket);
    QSignalSpy closed(&socket, &CSocket::OnClose);
    QVERIFY(TestSupport::ConnectSocket(socket, peer));
    peer.Close(true);
    QTRY_COMPARE(errors.Entries.size(), 1);
    QCOMPARE(errors.Entries[0].Number, 10054);
    QCOMPARE(errors.Entries[0].Description, QStringLiteral("Connection reset by peer."));
    QCOMPARE(socket.State(), 9);
    QCOMPARE(socket.SocketHandle(), -1);
    QCOMPARE(closed.count(), 0);
}

void tst_CSocket::resetSeenWithoutReadinessNotice()
{
#ifndef _WIN32
    QSKIP("POSIX readiness reports every reset; no poll stands in for it");
#endif
    LoopbackPeer peer;
    CSocket socket;
    ErrorLog errors(socket);
    QVERIFY(TestSupport::ConnectSocket(socket, peer));
    // As Wine at times does: the notice of the reset never comes.
    for (auto *n : modSocketSupport::SocketWindow()->findChildren<QSocketNotifier *>())
        if (n->socket() == qintptr(socket.SocketHandle()))
            n->setEnabled(false);
    peer.Close(true);
    QTRY_COMPARE_WITH_TIMEOUT(errors.Entries.size(), 1, 2000);
    QCOMPARE(errors.Entries[0].Number, 10054);
    QCOMPARE(socket.State(), 9);
}

void tst_CSocket::writeAfterPeerClosedDoesNotKill()
{
    LoopbackPeer peer;
    CSocket socket;
    QVERIFY(TestSupport::ConnectSocket(socket, peer));
    peer.Close();
    // Without a turn of the loop the object still thinks it is connected;
    // the second send meets the reset of the first and would raise SIGPIPE.
    for (int i = 0; i < 3; ++i)
        socket.SendData(QStringLiteral("ARTICLE\r\n"));
    QCOMPARE(socket.State(), 7);
    QTRY_COMPARE(socket.SocketHandle(), -1);
}

void tst_CSocket::smallSendProgressThenComplete()
{
    LoopbackPeer peer;
    CSocket socket;
    QVERIFY(TestSupport::ConnectSocket(socket, peer));
    QCoreApplication::processEvents(); // the write event that follows the connect
    QSignalSpy progress(&socket, &CSocket::OnSendProgress);
    QSignalSpy complete(&socket, &CSocket::OnSendComplete);
    socket.SendData(QStringLiteral("GROUP alt.test\r\n"));
    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress[0], (QList<QVariant>{16, 0}));
    QCOMPARE(complete.count(), 0); // travels through the loop
    QTRY_COMPARE(complete.count(), 1);
    QTRY_COMPARE((peer.Pump(), peer.Received()), QByteArray("GROUP alt.test\r\n"));
    QCoreApplication::processEvents();
    QCOMPARE(complete.count(), 1);
}

namespace {
QByteArray Pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 4096) & 0xff);
    return bytes;
}
} // namespace

void tst_CSocket::largeTransferFinishesThroughWriteEvents()
{
    LoopbackPeer peer;
    CSocket socket;
    QVERIFY(TestSupport::ConnectSocket(socket, peer));
    QSignalSpy progress(&socket, &CSocket::OnSendProgress);
    QSignalSpy complete(&socket, &CSocket::OnSendComplete);
    const QByteArray data = Pattern(16 * 1024 * 1024);
    socket.SendData(data);
    QCOMPARE(progress.count(), 1);
    QVERIFY(progress[0][1].toInt() > 0); // the kernel could not take it all at once

    QTRY_VERIFY_WITH_TIMEOUT((peer.Pump(), peer.Received().size() == data.size()), 20000);
    QVERIFY(peer.Received() == data);
    QTRY_COMPARE(complete.count(), 1);
    qint64 sent = 0;
    for (const auto &call : progress)
        sent += call[0].toInt();
    QCOMPARE(sent, qint64(data.size()));
    QCOMPARE(progress.last()[1].toInt(), 0);
}

void tst_CSocket::sendDataReplacesUnsentTail()
{
    LoopbackPeer peer;
    CSocket socket;
    QVERIFY(TestSupport::ConnectSocket(socket, peer));
    QSignalSpy progress(&socket, &CSocket::OnSendProgress);
    const QByteArray first = Pattern(16 * 1024 * 1024);
    socket.SendData(first);
    const int taken = progress[0][0].toInt();
    QVERIFY(progress[0][1].toInt() > 0);
    socket.SendData(QByteArray("TAIL"));
    QTRY_VERIFY_WITH_TIMEOUT((peer.Pump(), peer.Received().size() >= taken + 4), 20000);
    QCOMPARE(peer.Received().size(), taken + 4);
    QVERIFY(peer.Received().left(taken) == first.left(taken));
    QCOMPARE(peer.Received().right(4), QByteArray("TAIL"));
}

void tst_CSocket::listenAndAccept()
{
    CSocket listener;
    const quint16 port = ListenOnAnyPort(listener);
    QCOMPARE(listener.State(), 2);
    QVERIFY(port > 0);

    CSocket server;
    QSignalSpy serverConnect(&server, &CSocket::OnConnect);
    QList<int> requests;
    connect(&listener, &CSocket::OnConnectionRequest, this, [&](qint32 id) {
        requests.append(id);
        server.Accept(id);
    });
    LoopbackPeer client;
    QVERIFY(client.ConnectTo(port));
    QTRY_COMPARE(requests.size(), 1);
    QVERIFY(requests[0] >= 0);
    QCOMPARE(server.State(), 7);
    QCOMPARE(server.SocketHandle(), requests[0]);
    QCOMPARE(server.RemoteHostIP(), QStringLiteral("127.0.0.1"));
    QCOMPARE(server.RemoteHost(), server.RemoteHostIP());
    QCOMPARE(server.LocalPort(), qint32(port));
    QCOMPARE(server.Protocol(), 0);
    QCOMPARE(listener.State(), 2);

    QByteArray got;
    connect(&server, &CSocket::OnDataArrival, this, [&] { server.GetData(got); });
    QVERIFY(client.Send("200 ready\r\n"));
    QTRY_COMPARE(got, QByteArray("200 ready\r\n"));
    server.SendData(QStringLiteral("HELP\r\n"));
    QTRY_COMPARE((client.Pump(), client.Received()), QByteArray("HELP\r\n"));
    QCOMPARE(serverConnect.count(), 0);
}

void tst_CSocket::acceptOnTheListeningObject()
{
    // What the news client does: close its own socket inside the request and
    // accept on the same object.
    CSocket socket;
    const quint16 port = ListenOnAnyPort(socket);
    QVERIFY(port > 0);
    connect(&socket, &CSocket::OnConnectionRequest, this, [&](qint32 id) {
        socket.CloseSocket();
        socket.Accept(id);
    });
    LoopbackPeer client;
    QVERIFY(client.ConnectTo(port));
    QTRY_COMPARE(socket.State(), 7);
    QCOMPARE(modSocketSupport::RegisteredSocketCount(), 1);
    QVERIFY(client.Send("x"));
    QString got;
    QTRY_VERIFY((socket.GetData(got), got == QStringLiteral("x")));
}

void tst_CSocket::acceptClosesOverwrittenHandle()
{
    LoopbackPeer oldPeer;
    CSocket socket;
    QVERIFY(TestSupport::ConnectSocket(socket, oldPeer));

    CSocket listener;
    const quint16 port = ListenOnAnyPort(listener);
    QVERIFY(port > 0);
    int accepted = -1;
    connect(&listener, &CSocket::OnConnectionRequest, this, [&](qint32 id) {
        socket.Accept(id);
        accepted = id;
    });
    LoopbackPeer newPeer;
    QVERIFY(newPeer.ConnectTo(port));
    QTRY_VERIFY(accepted >= 0);
    QCOMPARE(socket.SocketHandle(), accepted);
    QTRY_VERIFY(oldPeer.Pump()); // the old connection was closed, not leaked
    QCOMPARE(socket.State(), 7);
    QCOMPARE(modSocketSupport::RegisteredSocketCount(), 2);
}

void tst_CSocket::releaseClosesUnregisteredHandle()
{
    CSocket listener;
    const quint16 port = ListenOnAnyPort(listener);
    QVERIFY(port > 0);
    int request = -1;
    connect(&listener, &CSocket::OnConnectionRequest, this, [&](qint32 id) { request = id; });
    LoopbackPeer client;
    QVERIFY(client.ConnectTo(port));
    QTRY_VERIFY(request >= 0);

    // Occupy the handle's entry so that Accept cannot register it, then take
    // the entry away: the object owns a handle the registry does not know.
    CSocket blocker;
    QVERIFY(modSocketSupport::RegisterSocket(request, &blocker));
    CSocket socket;
    socket.Accept(request);
    QCOMPARE(socket.SocketHandle(), request);
    QCOMPARE(socket.State(), 0);
    QVERIFY(modSocketSupport::DeregisterSocket(request));
    socket.CloseSocket();
    QCOMPARE(socket.SocketHandle(), -1);
    QTRY_VERIFY(client.Pump());
}

QTEST_MAIN(tst_CSocket)
#include "tst_csocket.moc"
