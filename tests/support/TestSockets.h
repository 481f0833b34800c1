#pragma once
// The socket calls of the test servers and peers that POSIX and Winsock spell
// differently. Everything else they use (bind, listen, connect, getsockname,
// send, recv, htons, pollfd) reads the same on both once these headers are in.
#include <QtGlobal>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#endif

namespace TestSupport::Sockets
{

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket NoSocket = INVALID_SOCKET;
// Winsock raises no SIGPIPE and has no per-call non-blocking flag: the
// sockets read or written with DontWait are non-blocking from the start.
constexpr int NoSignal = 0;
constexpr int DontWait = 0;
#else
using Socket = int;
constexpr Socket NoSocket = -1;
constexpr int NoSignal = MSG_NOSIGNAL;
constexpr int DontWait = MSG_DONTWAIT;
#endif

// A socket no child process inherits; the first call also starts Winsock.
Socket Open(int family, int type);
void Close(Socket socket);
// A waiting connection as a non-blocking socket; NoSocket when none waits.
Socket Accept(Socket listener);
bool SetNonBlocking(Socket socket);
void SetReceiveTimeout(Socket socket, int milliseconds);
// A listener may take a port whose last connections linger in TIME_WAIT, but
// never one that another socket holds (ports are tried at random).
void AllowRebind(Socket listener);
// poll with a timeout in microseconds (-1: none). Winsock counts whole
// milliseconds, so a shorter wait there lasts one.
int Poll(pollfd *fds, size_t count, qint64 microseconds);
// The last socket call failed only for now (it would block, or a signal came).
bool TryAgain();

// Wakes a thread that polls wake[0]: after Poke it stays readable for good.
bool OpenWake(Socket wake[2]);
void Poke(const Socket wake[2]);
void CloseWake(Socket wake[2]);

template <typename T> bool SetOption(Socket socket, int level, int name, const T &value)
{
    return ::setsockopt(socket, level, name, reinterpret_cast<const char *>(&value),
                        sizeof value) == 0;
}

} // namespace TestSupport::Sockets
