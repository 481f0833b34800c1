// The socket interface of Windows (Winsock 2). Its error numbers already are
// the Windows Sockets codes the layer speaks; handles are kept as int, which
// Windows socket handles fit.
#include "net/RawSocket.h"
#include "net/SocketApi.h"

#include <cctype>
#include <limits>
#include <mstcpip.h>

namespace RawSocket {
namespace {

// Handles must not leak into programs this one starts, as close-on-exec
// keeps them from doing elsewhere.
void KeepFromChildren(SOCKET s) { ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0); }

// A socket handle as the layer keeps it, or InvalidHandle (the socket is
// closed) in the unheard-of case of a handle beyond int.
int Keep(SOCKET s)
{
    if (s <= SOCKET(std::numeric_limits<int>::max()))
        return int(s);
    ::closesocket(s);
    ::WSASetLastError(WSAEMFILE);
    return InvalidHandle;
}

} // namespace

void Os::Startup()
{
    // Never cleaned up: sockets may live until the process ends.
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

int Os::LastError() { return MapErrno(::WSAGetLastError()); }

const int Os::SendFlags = 0;

// A reset can read as an orderly end (Wine's recv drops the error); a send
// of nothing still meets it. After an orderly end, or our own shutdown, it
// succeeds or fails otherwise.
int Os::EndOfStreamError(int handle)
{
    if (::send(SOCKET(handle), "", 0, 0) == 0)
        return 0;
    const int error = ::WSAGetLastError();
    return error == WSAECONNRESET || error == WSAECONNABORTED ? error : 0;
}

// The numbers are Windows' own already; the few system codes Winsock also
// reports get their socket counterparts.
int MapErrno(int e)
{
    if (e == 0 || (e >= 10000 && e < 12000))
        return e;
    switch (e) {
    case WSA_NOT_ENOUGH_MEMORY: return 10055;
    case WSA_INVALID_HANDLE: return 10038;
    case WSA_INVALID_PARAMETER: return 10022;
    case WSA_OPERATION_ABORTED: return 10004;
    default: return 10107;
    }
}

// getaddrinfo's results are Windows Sockets codes (or a system code).
int MapLookupError(int gaiCode, int)
{
    if (gaiCode == 0)
        return 0;
    const int code = MapErrno(gaiCode);
    return code == 10107 ? 11003 : code;
}

int Create(bool datagram, int *error, bool v6)
{
    Os::Startup();
    const int family = v6 ? AF_INET6 : AF_INET;
    const int type = datagram ? SOCK_DGRAM : SOCK_STREAM;
    const int protocol = datagram ? IPPROTO_UDP : IPPROTO_TCP;
    SOCKET s = ::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && ::WSAGetLastError() == WSAEINVAL) {
        // Systems without the flag: the handle is made private afterwards.
        s = ::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET)
            KeepFromChildren(s);
    }
    const int h = s == INVALID_SOCKET ? InvalidHandle : Keep(s);
    *error = h == InvalidHandle ? Os::LastError() : 0;
    return h;
}

void Close(int handle)
{
    if (handle >= 0)
        ::closesocket(SOCKET(handle));
}

bool SetNonBlocking(int handle, int *error)
{
    u_long on = 1;
    if (::ioctlsocket(SOCKET(handle), FIONBIO, &on) != 0) {
        *error = Os::LastError();
        return false;
    }
    *error = 0;
    return true;
}

int Accept(int handle, int *error)
{
    const SOCKET s = ::accept(SOCKET(handle), nullptr, nullptr);
    if (s != INVALID_SOCKET)
        KeepFromChildren(s);
    const int h = s == INVALID_SOCKET ? InvalidHandle : Keep(s);
    *error = h == InvalidHandle ? Os::LastError() : 0;
    return h;
}

int Shutdown(int handle, bool sendSide)
{
    return ::shutdown(SOCKET(handle), sendSide ? SD_SEND : SD_BOTH) == 0 ? 0 : Os::LastError();
}

// The forms inet_aton takes on POSIX systems: one to four parts, each
// decimal, octal or hexadecimal, the last filling the remaining bytes;
// whitespace ends the address.
bool ParseDotted(const QString &text, quint32 *address)
{
    if (text.isEmpty())
        return false;
    QByteArray bytes = text.toLatin1();
    if (bytes.contains('\0') || !std::isdigit(static_cast<unsigned char>(bytes[0])))
        return false;
    PSTR end = nullptr;
    IN_ADDR a{};
    if (::RtlIpv4StringToAddressA(bytes.constData(), FALSE, &end, &a) != 0 || !end ||
        (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end))))
        return false;
    *address = a.S_un.S_addr;
    return true;
}

} // namespace RawSocket
