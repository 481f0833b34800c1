#include "support/LoopbackPeer.h"

#include "net/CSocket.h"

#include <QTest>

namespace TestSupport {
using namespace Sockets;
namespace {

sockaddr_in Loopback(quint16 port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

quint16 BoundPort(Socket handle)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ::getsockname(handle, reinterpret_cast<sockaddr *>(&sa), &len);
    return ntohs(sa.sin_port);
}

Socket BindLoopback(int type)
{
    Socket h = Open(AF_INET, type);
    sockaddr_in sa = Loopback(0);
    if (h != NoSocket && ::bind(h, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        Close(h);
        return NoSocket;
    }
    return h;
}

} // namespace

LoopbackPeer::~LoopbackPeer()
{
    Close();
    Sockets::Close(m_listen);
}

bool LoopbackPeer::Listen()
{
    m_listen = BindLoopback(SOCK_STREAM);
    if (m_listen == NoSocket || ::listen(m_listen, 8) != 0)
        return false;
    m_port = BoundPort(m_listen);
    return true;
}

bool LoopbackPeer::TryAccept()
{
    if (m_conn != NoSocket)
        return true;
    m_conn = Accept(m_listen);
    return m_conn != NoSocket;
}

bool LoopbackPeer::ConnectTo(quint16 port)
{
    m_conn = Open(AF_INET, SOCK_STREAM);
    sockaddr_in sa = Loopback(port);
    return m_conn != NoSocket &&
           ::connect(m_conn, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 &&
           SetNonBlocking(m_conn); // Pump must not wait
}

bool LoopbackPeer::Send(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(m_conn, bytes.constData() + done, size_t(bytes.size() - done), NoSignal);
        if (n < 0) {
            if (!TryAgain())
                return false;
            QTest::qWait(1); // the far end is served by this thread's loop
            continue;
        }
        done += n;
    }
    return true;
}

bool LoopbackPeer::Pump()
{
    char chunk[65536];
    while (!m_sawEnd && m_conn != NoSocket) {
        ssize_t n = ::recv(m_conn, chunk, sizeof chunk, DontWait);
        if (n > 0)
            m_received.append(chunk, n);
        else if (n == 0)
            m_sawEnd = true;
        else
            break;
    }
    return m_sawEnd;
}

void LoopbackPeer::Close(bool reset)
{
    if (m_conn == NoSocket)
        return;
    if (reset)
        SetOption(m_conn, SOL_SOCKET, SO_LINGER, linger{1, 0});
    Sockets::Close(m_conn);
    m_conn = NoSocket;
}

UdpPeer::UdpPeer()
{
    m_handle = BindLoopback(SOCK_DGRAM);
    if (m_handle != NoSocket && SetNonBlocking(m_handle)) // Pump must not wait
        m_port = BoundPort(m_handle);
}

UdpPeer::~UdpPeer()
{
    Close(m_handle);
}

bool UdpPeer::SendTo(quint16 port, const QByteArray &bytes)
{
    sockaddr_in sa = Loopback(port);
    return ::sendto(m_handle, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<sockaddr *>(&sa),
                    sizeof sa) == bytes.size();
}

bool UdpPeer::Pump()
{
    char buffer[65536];
    for (;;) {
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        ssize_t n = ::recvfrom(m_handle, buffer, sizeof buffer, DontWait, reinterpret_cast<sockaddr *>(&sa), &len);
        if (n < 0)
            break;
        m_fromPort = ntohs(sa.sin_port);
        m_datagrams.append(QByteArray(buffer, n));
    }
    return !m_datagrams.isEmpty();
}

quint16 UnusedPort()
{
    Socket h = BindLoopback(SOCK_STREAM);
    quint16 port = BoundPort(h);
    Close(h);
    return port;
}

bool ConnectSocket(CSocket &socket, LoopbackPeer &peer, int timeoutMs)
{
    if (!peer.Listen())
        return false;
    socket.Connect(QStringLiteral("127.0.0.1"), peer.Port());
    return QTest::qWaitFor([&] { return socket.State() == 7 && peer.TryAccept(); }, timeoutMs);
}

} // namespace TestSupport
