#include "support/LoopbackPeer.h"

#include "net/CSocket.h"

#include <QTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TestSupport {
namespace {

sockaddr_in Loopback(quint16 port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

quint16 BoundPort(int handle)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ::getsockname(handle, reinterpret_cast<sockaddr *>(&sa), &len);
    return ntohs(sa.sin_port);
}

int BindLoopback(int type)
{
    int h = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in sa = Loopback(0);
    if (h >= 0 && ::bind(h, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        ::close(h);
        return -1;
    }
    return h;
}

} // namespace

LoopbackPeer::~LoopbackPeer()
{
    Close();
    if (m_listen >= 0)
        ::close(m_listen);
}

bool LoopbackPeer::Listen()
{
    m_listen = BindLoopback(SOCK_STREAM);
    if (m_listen < 0 || ::listen(m_listen, 8) != 0)
        return false;
    m_port = BoundPort(m_listen);
    return true;
}

bool LoopbackPeer::TryAccept()
{
    if (m_conn >= 0)
        return true;
    m_conn = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    return m_conn >= 0;
}

bool LoopbackPeer::ConnectTo(quint16 port)
{
    m_conn = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = Loopback(port);
    return m_conn >= 0 && ::connect(m_conn, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
}

bool LoopbackPeer::Send(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(m_conn, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno != EAGAIN && errno != EINTR)
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
    while (!m_sawEnd && m_conn >= 0) {
        ssize_t n = ::recv(m_conn, chunk, sizeof chunk, MSG_DONTWAIT);
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
    if (m_conn < 0)
        return;
    if (reset) {
        linger l{1, 0};
        ::setsockopt(m_conn, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    ::close(m_conn);
    m_conn = -1;
}

UdpPeer::UdpPeer()
{
    m_handle = BindLoopback(SOCK_DGRAM);
    if (m_handle >= 0)
        m_port = BoundPort(m_handle);
}

UdpPeer::~UdpPeer()
{
    if (m_handle >= 0)
        ::close(m_handle);
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
        ssize_t n = ::recvfrom(m_handle, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&sa), &len);
        if (n < 0)
            break;
        m_fromPort = ntohs(sa.sin_port);
        m_datagrams.append(QByteArray(buffer, n));
    }
    return !m_datagrams.isEmpty();
}

quint16 UnusedPort()
{
    int h = BindLoopback(SOCK_STREAM);
    quint16 port = BoundPort(h);
    ::close(h);
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
