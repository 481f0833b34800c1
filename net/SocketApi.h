#pragma once
// The operating system's socket interface as this layer uses it: the
// headers of the platform, and the few calls whose form differs by platform
// (RawSocket_posix.cpp, RawSocket_win.cpp). Everything else calls the
// Berkeley names both platforms share.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace RawSocket::Os {

// Starts the platform's socket service once per process; later calls cost
// nothing. A failed start leaves every later socket call failing with the
// platform's "not started" code.
void Startup();
// The last socket call's failure as a Windows Sockets code.
int LastError();
// Flags for every send: a send to a closed connection must not end the process.
extern const int SendFlags;
// The failure an end of stream on a connection may hide: 0 when the peer
// really ended it in order.
int EndOfStreamError(int handle);

} // namespace RawSocket::Os
