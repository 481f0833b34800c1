// CSocket over UDP: datagrams both ways, a target given by name, broadcast.
#include "SocketTestUtil.h"
#include "net/SocketApi.h"
#include "support/LoopbackPeer.h"

#include <QSignalSpy>
#include <QTest>

using TestSupport::UdpPeer;

namespace {
bool BroadcastOn(int handle)
{
    int on = 0;
    socklen_t len = sizeof on;
    ::getsockopt(handle, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char *>(&on), &len);
    return on != 0;
}
} // namespace

class tst_CSocketUdp : public QObject
{
    Q_OBJECT

private slots:
    void datagramsBothWays();
    void targetByName();
    void failedTargetLookup();
    void broadcastFollowsTarget();
};

void tst_CSocketUdp::datagramsBothWays()
{
    UdpPeer peer;
    CSocket socket;
    socket.SetProtocol(1);
    socket.Bind(0, QStringLiteral("127.0.0.1"));
    QVERIFY(socket.SocketHandle() >= 0);
    socket.SetProtocol(0); // ignored while a handle exists
    QCOMPARE(socket.Protocol(), 1);
    const quint16 port = BoundPort(socket);
    QVERIFY(port > 0);

    QSignalSpy progress(&socket, &CSocket::OnSendProgress);
    QSignalSpy complete(&socket, &CSocket::OnSendComplete);
    socket.SetRemoteHost(QStringLiteral("127.0.0.1"));
    socket.SetRemotePort(peer.Port());
    socket.SendData(QStringLiteral("ping"));
    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress[0], (QList<QVariant>{4, 0}));
    QTRY_VERIFY(peer.Pump());
    QCOMPARE(peer.Datagrams(), QList<QByteArray>{"ping"});
    QCOMPARE(peer.LastSenderPort(), port);
    QTRY_COMPARE(complete.count(), 1);

    // The sender becomes the remote end, by address: no reverse lookup.
    QSignalSpy arrival(&socket, &CSocket::OnDataArrival);
    socket.SetRemoteHost(QString());
    QVERIFY(peer.SendTo(port, "pong"));
    QTRY_COMPARE(arrival.count(), 1);
    QCOMPARE(arrival[0][0].toInt(), 4);
    QString text;
    socket.GetData(text);
    QCOMPARE(text, QStringLiteral("pong"));
    QCOMPARE(socket.RemoteHostIP(), QStringLiteral("127.0.0.1"));
    QCOMPARE(socket.RemoteHost(), QStringLiteral("127.0.0.1"));
    QCOMPARE(socket.RemotePort(), qint32(peer.Port()));
}

void tst_CSocketUdp::targetByName()
{
    ManualResolver resolver;
    UdpPeer peer;
    CSocket socket;
    socket.SetProtocol(1);
    socket.SetRemoteHost(QStringLiteral("peer.example")); // a name: the address stays unknown
    QCOMPARE(socket.RemoteHostIP(), QString());
    socket.SetRemotePort(peer.Port());
    QSignalSpy progress(&socket, &CSocket::OnSendProgress);
    socket.SendData(QByteArray("datagram"));
    QCOMPARE(progress.count(), 1);
    QCOMPARE(progress[0], (QList<QVariant>{0, 8}));
    QCOMPARE(resolver.Requests.size(), 1);
    QCOMPARE(resolver.Requests[0].second, QByteArray("peer.example"));
    QCoreApplication::processEvents(); // a write event must not start a second lookup
    QCOMPARE(resolver.Requests.size(), 1);

    ManualResolver::Succeed(resolver.Requests[0].first, "peer.example", "127.0.0.1");
    QCOMPARE(socket.State(), 5);
    QCOMPARE(socket.RemoteHostIP(), QStringLiteral("127.0.0.1"));
    QCOMPARE(progress.last(), (QList<QVariant>{8, 0}));
    QTRY_VERIFY(peer.Pump());
    QCOMPARE(peer.Datagrams(), QList<QByteArray>{"datagram"});
}

void tst_CSocketUdp::failedTargetLookup()
{
    ManualResolver resolver;
    CSocket socket;
    ErrorLog errors(socket);
    socket.SetProtocol(1);
    socket.SetRemoteHost(QStringLiteral("missing.example"));
    socket.SetRemotePort(9);
    socket.SendData(QStringLiteral("x"));
    ManualResolver::Fail(resolver.Requests[0].first, 11004);
    QCOMPARE(socket.State(), 9);
    QCOMPARE(errors.Entries.size(), 1);
    QCOMPARE(errors.Entries[0].Description, QStringLiteral("Valid name, no data record of requested type."));
    QVERIFY(socket.SocketHandle() >= 0);
}

void tst_CSocketUdp::broadcastFollowsTarget()
{
    CSocket socket;
    socket.SetProtocol(1);
    socket.SetRemoteHost(QStringLiteral("192.0.2.255"));
    QVERIFY(socket.SocketHandle() >= 0);
    QCOMPARE(socket.RemoteHostIP(), QStringLiteral("192.0.2.255"));
    QVERIFY(BroadcastOn(socket.SocketHandle()));
    socket.SetRemoteHost(QStringLiteral("192.0.2.7"));
    QVERIFY(!BroadcastOn(socket.SocketHandle()));
    QCOMPARE(socket.RemoteHostIP(), QStringLiteral("192.0.2.7"));

    // A TCP object never touches the option and creates no socket for it.
    CSocket tcp;
    tcp.SetRemoteHost(QStringLiteral("192.0.2.255"));
    QCOMPARE(tcp.SocketHandle(), -1);
    QCOMPARE(tcp.RemoteHostIP(), QStringLiteral("192.0.2.255"));
}

QTEST_MAIN(tst_CSocketUdp)
#include "tst_csocketudp.moc"
