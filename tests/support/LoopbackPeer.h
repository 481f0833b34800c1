#pragma once
// Plain-socket far ends for socket-layer tests, on 127.0.0.1 only. All calls
// but ConnectTo are non-blocking, so a test can wait on them with QTRY_*
// while the event loop serves the object under test.
#include "support/TestSockets.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

class CSocket;

namespace TestSupport {

class LoopbackPeer
{
public:
    LoopbackPeer() = default;
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer &) = delete;
    LoopbackPeer &operator=(const LoopbackPeer &) = delete;

    // Listens on a port the kernel picks.
    bool Listen();
    quint16 Port() const { return m_port; }
    // Takes a waiting connection; false while none is there.
    bool TryAccept();
    // Blocking connect to 127.0.0.1:port (the backlog completes it).
    bool ConnectTo(quint16 port);

    // Sends all of it (blocking).
    bool Send(const QByteArray &bytes);
    // Appends what waits to Received(); true once the far end has closed.
    bool Pump();
    const QByteArray &Received() const { return m_received; }

    // Closes at once; with reset the far end gets a connection reset.
    void Close(bool reset = false);

private:
    Sockets::Socket m_listen = Sockets::NoSocket;
    Sockets::Socket m_conn = Sockets::NoSocket;
    quint16 m_port = 0;
    QByteArray m_received;
    bool m_sawEnd = false;
};

class UdpPeer
{
public:
    UdpPeer();
    ~UdpPeer();
    UdpPeer(const UdpPeer &) = delete;
    UdpPeer &operator=(const UdpPeer &) = delete;
    quint16 Port() const { return m_port; }
    bool SendTo(quint16 port, const QByteArray &bytes);
    // Collects what waits; true once any datagram has come.
    bool Pump();
    const QList<QByteArray> &Datagrams() const { return m_datagrams; }
    quint16 LastSenderPort() const { return m_fromPort; }

private:
    QList<QByteArray> m_datagrams;
    quint16 m_fromPort = 0;
    Sockets::Socket m_handle = Sockets::NoSocket;
    quint16 m_port = 0;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
quint16 UnusedPort();

// Connects the object to a listening peer and waits for both ends.
bool ConnectSocket(CSocket &socket, LoopbackPeer &peer, int timeoutMs = 5000);

} // namespace TestSupport
