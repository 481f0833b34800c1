#include "net/RawSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

int Fail() { return MapErrno(errno); }

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

int MapErrno(int e)
{
    switch (e) {
    case 0: return 0;
    case EINTR: return 10004;
    case EACCES:
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE:
    case ENFILE: return 10024;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case EBADF:
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS:
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case EPIPE:
    case ESHUTDOWN: return 10058;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
#ifdef EPROCLIM
    case EPROCLIM: return 10067;
#endif
    case EUSERS: return 10067;
    default: return 10107;
    }
}

int MapLookupError(int gaiCode, int errnoValue)
{
    switch (gaiCode) {
    case 0: return 0;
    case EAI_NONAME: return 11001;
    case EAI_AGAIN: return 11002;
    case EAI_FAIL: return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA: return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return 11004;
#endif
    case EAI_MEMORY: return 10055;
    case EAI_FAMILY: return 10047;
    case EAI_SOCKTYPE: return 10044;
    case EAI_SERVICE:
    case EAI_BADFLAGS: return 10022;
    case EAI_SYSTEM: return errnoValue ? MapErrno(errnoValue) : 11003;
    default: return 11003;
    }
}

int Create(bool datagram, int *error, bool v6)
{
    int h = ::socket(v6 ? AF_INET6 : AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC,
                     datagram ? IPPROTO_UDP : IPPROTO_TCP);
    *error = h < 0 ? Fail() : 0;
    return h < 0 ? InvalidHandle : h;
}

void Close(int handle)
{
    if (handle >= 0)
        ::close(handle);
}

bool SetNonBlocking(int handle, int *error)
{
    int flags = ::fcntl(handle, F_GETFL);
    if (flags < 0 || ::fcntl(handle, F_SETFL, flags | O_NONBLOCK) < 0) {
        *error = Fail();
        return false;
    }
    *error = 0;
    return true;
}

int Connect(int handle, quint32 address, quint16 port)
{
    sockaddr_in sa = MakeAddress(address, port);
    if (::connect(handle, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0)
        return 0;
    // A non-blocking connect under way reads as "would block", as callers expect.
    return errno == EINPROGRESS ? WouldBlock : Fail();
}

int Connect(int handle, const Endpoint &address, quint16 port)
{
    sockaddr_storage sa;
    const socklen_t length = MakeAddress(address, port, &sa);
    if (::connect(handle, reinterpret_cast<sockaddr *>(&sa), length) == 0)
        return 0;
    return errno == EINPROGRESS ? WouldBlock : Fail();
}

int Bind(int handle, quint32 address, quint16 port)
{
    sockaddr_in sa = MakeAddress(address, port);
    return ::bind(handle, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 ? 0 : Fail();
}

int Listen(int handle, int backlog) { return ::listen(handle, backlog) == 0 ? 0 : Fail(); }

int Accept(int handle, int *error)
{
    int h = ::accept4(handle, nullptr, nullptr, SOCK_CLOEXEC);
    *error = h < 0 ? Fail() : 0;
    return h < 0 ? InvalidHandle : h;
}

int Shutdown(int handle, bool sendSide)
{
    return ::shutdown(handle, sendSide ? SHUT_WR : SHUT_RDWR) == 0 ? 0 : Fail();
}

qint64 Send(int handle, const char *data, qint64 length, int *error)
{
    ssize_t n = ::send(handle, data, size_t(length), MSG_NOSIGNAL);
    *error = n < 0 ? Fail() : 0;
    return n;
}

qint64 SendTo(int handle, const char *data, qint64 length, quint32 address, quint16 port, int *error)
{
    sockaddr_in sa = MakeAddress(address, port);
    ssize_t n = ::sendto(handle, data, size_t(length), MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&sa),
                         sizeof sa);
    *error = n < 0 ? Fail() : 0;
    return n;
}

qint64 Recv(int handle, char *data, qint64 length, int *error)
{
    ssize_t n = ::recv(handle, data, size_t(length), 0);
    *error = n < 0 ? Fail() : 0;
    return n;
}

qint64 RecvFrom(int handle, char *data, qint64 length, quint32 *address, quint16 *port, int *error)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ssize_t n = ::recvfrom(handle, data, size_t(length), 0, reinterpret_cast<sockaddr *>(&sa), &len);
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
    ssize_t n = ::recv(handle, &c, 1, MSG_PEEK);
    *error = n < 0 ? Fail() : 0;
    return n > 0 ? 1 : int(n);
}

static bool NameOf(int (*call)(int, sockaddr *, socklen_t *), int handle, quint32 *address, quint16 *port)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (call(handle, reinterpret_cast<sockaddr *>(&sa), &len) != 0 || sa.sin_family != AF_INET)
        return false;
    *address = sa.sin_addr.s_addr;
    *port = ntohs(sa.sin_port);
    return true;
}

bool LocalAddress(int handle, quint32 *address, quint16 *port)
{
    return NameOf(::getsockname, handle, address, port);
}

bool PeerAddress(int handle, quint32 *address, quint16 *port)
{
    return NameOf(::getpeername, handle, address, port);
}

static bool IntOption(int handle, int option, int *value)
{
    socklen_t len = sizeof *value;
    return ::getsockopt(handle, SOL_SOCKET, option, value, &len) == 0;
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
    return ::setsockopt(handle, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) == 0;
}

int PendingError(int handle)
{
    int value = 0;
    if (!IntOption(handle, SO_ERROR, &value))
        return Fail();
    return MapErrno(value);
}

bool ParseDotted(const QString &text, quint32 *address)
{
    if (text.isEmpty())
        return false;
    QByteArray bytes = text.toLatin1();
    in_addr a{};
    if (bytes.contains('\0') || ::inet_aton(bytes.constData(), &a) == 0)
        return false;
    *address = a.s_addr;
    return true;
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
