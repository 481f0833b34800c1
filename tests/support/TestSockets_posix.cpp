#include "support/TestSockets.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace TestSupport::Sockets
{

Socket Open(int family, int type)
{
    return ::socket(family, type | SOCK_CLOEXEC, 0);
}

void Close(Socket socket)
{
    if (socket != NoSocket)
        ::close(socket);
}

Socket Accept(Socket listener)
{
    return ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

bool SetNonBlocking(Socket socket)
{
    const int flags = ::fcntl(socket, F_GETFL);
    return flags >= 0 && ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

void SetReceiveTimeout(Socket socket, int milliseconds)
{
    const timeval tv{milliseconds / 1000, (milliseconds % 1000) * 1000};
    SetOption(socket, SOL_SOCKET, SO_RCVTIMEO, tv);
}

void AllowRebind(Socket listener)
{
    SetOption(listener, SOL_SOCKET, SO_REUSEADDR, 1);
}

int Poll(pollfd *fds, size_t count, qint64 microseconds)
{
    const timespec ts{time_t(microseconds / 1000000), long(microseconds % 1000000) * 1000};
    return ::ppoll(fds, count, microseconds < 0 ? nullptr : &ts, nullptr);
}

bool TryAgain()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

bool OpenWake(Socket wake[2])
{
    return ::pipe2(wake, O_CLOEXEC) == 0;
}

void Poke(const Socket wake[2])
{
    const char b = 'x';
    [[maybe_unused]] auto n = ::write(wake[1], &b, 1);
}

void CloseWake(Socket wake[2])
{
    Close(wake[0]);
    Close(wake[1]);
    wake[0] = wake[1] = NoSocket;
}

} // namespace TestSupport::Sockets
