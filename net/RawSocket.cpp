// The part of the socket calls both platforms share; what differs is in
// RawSocket_posix.cpp and RawSocket_win.cpp.
#include "net/RawSocket.h"

#include "net/SocketApi.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace RawSocket {
namespace {

sockaddr_in MakeAddress(quint32 address, quint16 port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    return sa;
}

int Fail() { return Os::LastError(); }

// Lengths of one call: Windows counts them in int, and no platform moves
// more in one go anyway.
int CallLength(qint64 length) { return int(std::min<qint64>(length, std::numeric_limits<int>::max())); }

// A non-blocking connect under way reads as "would block" on every
// platform (POSIX says EINPROGRESS, which maps to 10036).
int ConnectFailure()
{
    const int error = Fail();
    return error == 10036 ? WouldBlock : error;
}

socklen_t MakeAddress(const Endpoint &e, quint16 port, sockaddr_storage *storage)
{
    *storage = {};
    if (!e.V6) {
        *reinterpret_cast<sockaddr_in *>(storage) = MakeAddress(e.V4, port);
        return sizeof(sockaddr_in);
    }
    auto *sa = reinterpret_cast<sockaddr_in6 *>(storage);
    sa->sin6_family = AF_INET6;
    sa->sin6_port = htons(port);
    std::memcpy(&sa->sin6_addr, e.Bytes6, 16);
    sa->sin6_scope_id = e.ScopeId;
    return sizeof(sockaddr_in6);
}

bool FromAddress(const sockaddr *sa, Endpoint *e, quint16 *port)
{
    *e = {};
    if (sa->sa_family == AF_INET) {
        const auto *a = reinterpret_cast<const sockaddr_in *>(sa);
        e->V4 = a->sin_addr.s_addr;
        if (port)
            *port = ntohs(a->sin_port);
        return true;
    }
    if (sa->sa_family == AF_INET6) {
        const auto *a = reinterpret_cast<const sockaddr_in6 *>(sa);
        e->V6 = true;
        std::memcpy(e->Bytes6, &a->sin6_addr, 16);
        e->ScopeId = a->sin6_scope_id;
        if (port)
            *port = ntohs(a->sin6_port);
        return true;
    }
    return false;
}

} // namespace

int Connect(int handle, quint32 address, quint16 port)
{
    sockaddr_in sa = MakeAddress(address, port);
    if (::connect(handle, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0)
        return 0;
    return ConnectFailure();
}

int Connect(int handle, const Endpoint &address, quint16 port)
{
    sockaddr_storage sa;
    const socklen_t length = MakeAddress(address, port, &sa);
    if (::connect(handle, reinterpret_cast<sockaddr *>(&sa), length) == 0)
        return 0;
    return ConnectFailure();
}

int Bind(int handle, quint32 address, quint16 port)
{
    sockaddr_in sa = MakeAddress(address, port);
    return ::bind(handle, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 ? 0 : Fail();
}

int Listen(int handle, int backlog) { return ::listen(handle, backlog) == 0 ? 0 : Fail(); }

qint64 Send(int handle, const char *data, qint64 length, int *error)
{
    const qint64 n = ::send(handle, data, CallLength(length), Os::SendFlags);
    *error = n < 0 ? Fail() : 0;
    return n;
}

qint64 SendTo(int handle, const char *data, qint64 length, quint32 address, quint16 port, int *error)
{
    sockaddr_in sa = MakeAddress(address, port);
    const qint64 n = ::sendto(handle, data, CallLength(length), Os::SendFlags,
                              reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    *error = n < 0 ? Fail() : 0;
    return n;
}

qint64 Recv(int handle, char *data, qint64 length, int *error)
{
    const qint64 n = ::recv(handle, data, CallLength(length), 0);
    *error = n < 0 ? Fail() : 0;
    if (n == 0 && length > 0 && (*error = Os::EndOfStreamError(handle)) != 0)
        return -1;
    return n;
}

qint64 RecvFrom(int handle, char *data, qint64 length, quint32 *address, quint16 *port, int *error)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const qint64 n = ::recvfrom(handle, data, CallLength(length), 0, reinterpret_cast<sockaddr *>(&sa), &len);
    *error = n < 0 ? Fail() : 0;
    if (n >= 0) {
        *address = sa.sin_addr.s_addr;
        *port = ntohs(sa.sin_port);
    }
    return n;
}

int Peek(int handle, int *error)
{
    char c;
    const qint64 n = ::recv(handle, &c, 1, MSG_PEEK);
    *error = n < 0 ? Fail() : 0;
    return n > 0 ? 1 : int(n);
}

static bool NameOf(bool peer, int handle, quint32 *address, quint16 *port)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    auto *name = reinterpret_cast<sockaddr *>(&sa);
    if ((peer ? ::getpeername(handle, name, &len) : ::getsockname(handle, name, &len)) != 0 ||
        sa.sin_family != AF_INET)
        return false;
    *address = sa.sin_addr.s_addr;
    *port = ntohs(sa.sin_port);
    return true;
}

bool LocalAddress(int handle, quint32 *address, quint16 *port)
{
    return NameOf(false, handle, address, port);
}

bool PeerAddress(int handle, quint32 *address, quint16 *port)
{
    return NameOf(true, handle, address, port);
}

static bool IntOption(int handle, int option, int *value)
{
    socklen_t len = sizeof *value;
    return ::getsockopt(handle, SOL_SOCKET, option, reinterpret_cast<char *>(value), &len) == 0;
}

bool LocalEndpoint(int handle, Endpoint *address, quint16 *port)
{
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    return ::getsockname(handle, reinterpret_cast<sockaddr *>(&sa), &len) == 0 &&
           FromAddress(reinterpret_cast<sockaddr *>(&sa), address, port);
}

bool ReceiveBufferSize(int handle, int *size) { return IntOption(handle, SO_RCVBUF, size); }

bool IsStream(int handle, bool *stream)
{
    int type = 0;
    if (!IntOption(handle, SO_TYPE, &type))
        return false;
    *stream = type == SOCK_STREAM;
    return true;
}

bool IsListening(int handle)
{
    int on = 0;
    return IntOption(handle, SO_ACCEPTCONN, &on) && on;
}

bool SetBroadcast(int handle, bool on)
{
    int value = on ? 1 : 0;
    return ::setsockopt(handle, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&value), sizeof value) == 0;
}

int PendingError(int handle)
{
    int value = 0;
    if (!IntOption(handle, SO_ERROR, &value))
        return Fail();
    return MapErrno(value);
}

QString FormatDotted(quint32 address)
{
    const auto *b = reinterpret_cast<const unsigned char *>(&address);
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

bool ParseAddress(const QString &text, Endpoint *address)
{
    Endpoint e;
    if (ParseDotted(text, &e.V4)) {
        *address = e;
        return true;
    }
    QByteArray bytes = text.toLatin1();
    if (bytes.startsWith('[') && bytes.endsWith(']'))
        bytes = bytes.mid(1, bytes.size() - 2);
    if (bytes.isEmpty() || bytes.contains('\0') || !bytes.contains(':'))
        return false;
    // Numeric only: a literal never costs a lookup.
    Os::Startup();
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo *list = nullptr;
    if (::getaddrinfo(bytes.constData(), nullptr, &hints, &list) != 0 || !list)
        return false;
    const bool ok = FromAddress(list->ai_addr, &e, nullptr);
    ::freeaddrinfo(list);
    if (ok)
        *address = e;
    return ok;
}

QString FormatAddress(const Endpoint &address)
{
    if (!address.V6)
        return FormatDotted(address.V4);
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, address.Bytes6, text, sizeof text);
    return QString::fromLatin1(text);
}

HostEntry ResolveBlocking(const QByteArray &hostName)
{
    HostEntry entry;
    Os::Startup();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME | AI_ADDRCONFIG;
    addrinfo *list = nullptr;
    errno = 0;
    int rc = ::getaddrinfo(hostName.constData(), nullptr, &hints, &list);
    if (rc != 0) {
        entry.Error = MapLookupError(rc, errno);
        return entry;
    }
    bool haveV4 = false;
    for (addrinfo *ai = list; ai; ai = ai->ai_next) {
        Endpoint e;
        if (!ai->ai_addr || !FromAddress(ai->ai_addr, &e, nullptr))
            continue;
        entry.Addresses << e;
        if (!e.V6 && !haveV4) {
            haveV4 = true;
            entry.Address = e.V4;
        }
    }
    entry.Name = list->ai_canonname ? QByteArray(list->ai_canonname) : hostName;
    ::freeaddrinfo(list);
    if (entry.Addresses.isEmpty())
        entry.Error = 11004;
    return entry;
}

} // namespace RawSocket
