// The socket interface of POSIX systems: errno and getaddrinfo's numbers
// become Windows Sockets codes here, and handles are made close-on-exec.
#include "net/RawSocket.h"
#include "net/SocketApi.h"

namespace RawSocket {

void Os::Startup() {}

int Os::LastError() { return MapErrno(errno); }

const int Os::SendFlags = MSG_NOSIGNAL;

int Os::EndOfStreamError(int) { return 0; }

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
    *error = h < 0 ? Os::LastError() : 0;
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
        *error = Os::LastError();
        return false;
    }
    *error = 0;
    return true;
}

int Accept(int handle, int *error)
{
    int h = ::accept4(handle, nullptr, nullptr, SOCK_CLOEXEC);
    *error = h < 0 ? Os::LastError() : 0;
    return h < 0 ? InvalidHandle : h;
}

int Shutdown(int handle, bool sendSide)
{
    return ::shutdown(handle, sendSide ? SHUT_WR : SHUT_RDWR) == 0 ? 0 : Os::LastError();
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

} // namespace RawSocket
