#include "support/TestSockets.h"

#include <windows.h>

namespace TestSupport::Sockets
{

namespace
{

// Handles are inheritable by default on Windows: a child the test starts
// would otherwise keep the server's connections open after it closed them.
Socket Private(Socket socket)
{
    if (socket != NoSocket)
        ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    return socket;
}

} // namespace

Socket Open(int family, int type)
{
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        return NoSocket;
    return Private(::WSASocketW(family, type, 0, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
}

void Close(Socket socket)
{
    if (socket != NoSocket)
        ::closesocket(socket);
}

Socket Accept(Socket listener)
{
    const Socket socket = Private(::accept(listener, nullptr, nullptr));
    if (socket != NoSocket && !SetNonBlocking(socket)) {
        Close(socket);
        return NoSocket;
    }
    return socket;
}

bool SetNonBlocking(Socket socket)
{
    u_long on = 1;
    return ::ioctlsocket(socket, FIONBIO, &on) == 0;
}

void SetReceiveTimeout(Socket socket, int milliseconds)
{
    SetOption(socket, SOL_SOCKET, SO_RCVTIMEO, DWORD(milliseconds));
}

// Windows binds over TIME_WAIT anyway, and its SO_REUSEADDR would let a
// second listener share a port that is in use.
void AllowRebind(Socket) {}

int Poll(pollfd *fds, size_t count, qint64 microseconds)
{
    const int ms = microseconds < 0 ? -1 : int((microseconds + 999) / 1000);
    return ::WSAPoll(fds, ULONG(count), ms);
}

bool TryAgain()
{
    const int e = ::WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINTR;
}

// No pipe can be polled with sockets here: a UDP socket that sends to itself.
bool OpenWake(Socket wake[2])
{
    const Socket s = Open(AF_INET, SOCK_DGRAM);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    if (s == NoSocket || ::bind(s, reinterpret_cast<sockaddr *>(&a), len) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0 ||
        ::connect(s, reinterpret_cast<sockaddr *>(&a), len) != 0) {
        Close(s);
        return false;
    }
    wake[0] = wake[1] = s;
    return true;
}

void Poke(const Socket wake[2])
{
    ::send(wake[1], "x", 1, 0);
}

void CloseWake(Socket wake[2])
{
    Close(wake[0]);
    wake[0] = wake[1] = NoSocket;
}

} // namespace TestSupport::Sockets
