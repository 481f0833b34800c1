#pragma once
// Process-wide half of the socket layer: service start and stop, the hidden
// socket window that turns readiness into socket events, the socket registry,
// the registry of name lookups in progress, and routing to the owning CSocket.
// Everything here runs on the user-interface thread.
#include <QByteArray>
#include <QString>
#include <functional>

#include "net/RawSocket.h"

class CSocket;
class QObject;

namespace modSocketSupport {

// Largest IPv4 UDP payload.
constexpr long MaxDatagramSize = 65507;

// Network event codes handed to CSocket::HandleNetworkEvent.
enum NetworkEvent : int { EventRead = 1, EventWrite = 2, EventAccept = 8, EventConnect = 16, EventClose = 32 };

long InitWinsockService();
void StopWinsockService();

bool RegisterSocket(int handle, CSocket *owner);
bool DeregisterSocket(int handle);

// 0 when the lookup could not be started (the reason is in LastError).
// A new lookup by the same owner supersedes its earlier ones. Lookups run
// on threads of their own that nobody waits for, so a lookup hanging in the
// resolver delays neither the user-interface thread nor the program's exit.
qint32 ResolveHost(const QString &hostName, CSocket *owner);
// Drops every lookup of the owner: their completions will never reach it.
void CancelLookups(CSocket *owner);

QObject *CreateSocketWindow();
bool DestroySocketWindow();

// What the readiness watch needs to know that a socket of the other
// platform would have told its event selection by itself.
void WatchConnect(int handle);
void WatchAccept(int handle);
// Our side of the connection is shut down: the peer's close comes next.
void WatchPeerClose(int handle);
// One write event once the handle can take more data.
void WatchWrite(int handle);
// Queues an event for the handle; dropped if the handle is released first.
void PostSocketEvent(int handle, int event);

// A finished lookup. Address is IPv4 in network byte order; Addresses,
// when given, are every address in the order to try them.
struct LookupResult {
    long Error = 0;
    QByteArray HostName;
    quint32 Address = 0;
    QList<RawSocket::Endpoint> Addresses = {};
};
// Hands a finished lookup to its owner (on the user-interface thread).
// Unknown, cancelled or superseded lookups are dropped.
void CompleteLookup(qint32 lookupHandle, const LookupResult &result);

// Replaceable pieces, for tests. A lookup starter must eventually call
// CompleteLookup on the user-interface thread (or never, to model a lookup
// that hangs); an empty function restores the getaddrinfo worker.
using LookupStarter = std::function<void(qint32 lookupHandle, const QByteArray &hostName)>;
void SetLookupStarter(LookupStarter starter);
// The blocking name lookup run off the user-interface thread for each
// lookup the default starter begins; empty restores getaddrinfo.
using BlockingResolver = std::function<LookupResult(const QByteArray &hostName)>;
void SetBlockingResolver(BlockingResolver resolver);
// Returns 0 or the start-up error code; empty restores the default (always 0).
using ServiceStarter = std::function<long()>;
void SetServiceStarter(ServiceStarter starter);

// Inspection.
QObject *SocketWindow();
bool IsServiceStarted();
int ServiceStartCount();
int RegisteredSocketCount();
int PendingLookupCount();
// Lookup threads still inside the resolver, wanted by anyone or not.
int RunningLookupThreads();

} // namespace modSocketSupport
