#pragma once
// The only place that talks to the operating system's socket interface.
// Every failure comes back as a Windows Sockets error code (10004..11004),
// the numbering the rest of the socket layer and its owners understand.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace RawSocket {

constexpr int InvalidHandle = -1;
constexpr int WouldBlock = 10035;

// errno value → Windows Sockets code; 0 stays 0.
int MapErrno(int errnoValue);
// getaddrinfo result (with the errno seen for EAI_SYSTEM) → Windows Sockets code.
int MapLookupError(int gaiCode, int errnoValue);

// An IPv4 or IPv6 address of a stream connection.
struct Endpoint {
    bool V6 = false;
    quint32 V4 = 0;         // network byte order
    quint8 Bytes6[16] = {};
    quint32 ScopeId = 0;
};
// A dotted IPv4 address, or an IPv6 literal with or without brackets.
bool ParseAddress(const QString &text, Endpoint *address);
QString FormatAddress(const Endpoint &address);

// Sockets are created close-on-exec; RegisterSocket makes them non-blocking.
int Create(bool datagram, int *error, bool v6 = false);
void Close(int handle);
bool SetNonBlocking(int handle, int *error);

// 0 on success, otherwise the code (WouldBlock while a connect is under way).
int Connect(int handle, quint32 address, quint16 port);
int Connect(int handle, const Endpoint &address, quint16 port);
int Bind(int handle, quint32 address, quint16 port);
int Listen(int handle, int backlog);
int Accept(int handle, int *error);
int Shutdown(int handle, bool sendSide);

// -1 on failure with *error set. Sends never raise SIGPIPE.
qint64 Send(int handle, const char *data, qint64 length, int *error);
qint64 SendTo(int handle, const char *data, qint64 length, quint32 address, quint16 port, int *error);
qint64 Recv(int handle, char *data, qint64 length, int *error);
qint64 RecvFrom(int handle, char *data, qint64 length, quint32 *address, quint16 *port, int *error);
// Looks at the next byte without taking it: 1 data waits, 0 the peer closed,
// -1 a failure (*error, WouldBlock when nothing waits yet).
int Peek(int handle, int *error);

bool LocalAddress(int handle, quint32 *address, quint16 *port);
bool PeerAddress(int handle, quint32 *address, quint16 *port);
bool LocalEndpoint(int handle, Endpoint *address, quint16 *port);
bool ReceiveBufferSize(int handle, int *size);
bool IsStream(int handle, bool *stream);
bool IsListening(int handle);
bool SetBroadcast(int handle, bool on);
// The outcome of a non-blocking connect (SO_ERROR), mapped.
int PendingError(int handle);

// Addresses are IPv4 in network byte order.
bool ParseDotted(const QString &text, quint32 *address);
QString FormatDotted(quint32 address);

struct HostEntry {
    int Error = 0;         // Windows Sockets code, 0 on success
    QByteArray Name;       // official (canonical) name
    quint32 Address = 0;   // first IPv4 address
    QList<Endpoint> Addresses; // every address of either family, in the resolver's order
};
// Blocking forward lookup of both families (as far as the machine has
// addresses of them); never call it on the user-interface thread.
HostEntry ResolveBlocking(const QByteArray &hostName);

} // namespace RawSocket
