#include "net/modSocketSupport.h"

#include "common/Error.h"
#include "net/CSocket.h"
#include "net/ReadinessPoll.h"
#include "net/RawSocket.h"
#include "net/SocketErrorText.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace modSocketSupport {
namespace {

// What the readiness of a handle means depends on what the handle is doing.
enum class Mode { Idle, Connecting, Connected, Listening, Datagram, Closed };

struct Entry {
    CSocket *Owner = nullptr;
    quint64 Serial = 0; // tells a re-used handle number from the one an event was meant for
    Mode Watch = Mode::Idle;
    QSocketNotifier *Read = nullptr;
    QSocketNotifier *Write = nullptr;
};

struct Support {
    bool ServiceStarted = false;
    long MaxDatagram = 0;
    int StartCount = 0;
    QObject *Window = nullptr;
    std::map<int, Entry> Sockets;
    std::map<qint32, CSocket *> Lookups;
    qint32 LastLookup = 0;
    quint64 LastSerial = 0;
    LookupStarter Starter;
    BlockingResolver Resolver;
    ServiceStarter Service;
    QPointer<QObject> Receiver; // of finished lookups; dies with the application
};

Support &S()
{
    static Support s;
    return s;
}

Entry *Find(int handle, quint64 serial)
{
    auto it = S().Sockets.find(handle);
    if (it == S().Sockets.end() || it->second.Serial != serial)
        return nullptr;
    return &it->second;
}

Entry *Find(int handle)
{
    auto it = S().Sockets.find(handle);
    return it == S().Sockets.end() ? nullptr : &it->second;
}

void Enable(QSocketNotifier *n, bool on)
{
    if (n && n->isEnabled() != on)
        n->setEnabled(on);
}

// The owner's handler may release the handle, destroy the window and
// re-register the same number; nothing of the entry is touched after the call.
void Deliver(int handle, Entry *e, int event, int error)
{
    e->Owner->HandleSocketEvent(handle, event, error);
}

// A connection, for as long as it is one, is also looked at by the
// readiness poll where the platform may leave its reset unreported: the
// reset (like anything else readable) then still reaches the owner's read.
// Has the readiness poll look at the handle for as long as it stays this
// entry in `mode`; `onReady` hears each look and says whether to go on.
template <class OnReady>
void PollWhile(int handle, quint64 serial, Mode mode, ReadinessPoll::Wait wait, OnReady onReady)
{
    ReadinessPoll::Follow(handle, wait, S().Window, [=](bool ready) {
        Entry *entry = Find(handle, serial);
        return entry && entry->Watch == mode && onReady(entry, ready);
    });
}

// Whatever a connected socket's poll finds readable is read as a notifier
// would read it.
void PollConnected(int handle, quint64 serial, ReadinessPoll::Wait wait)
{
    PollWhile(handle, serial, Mode::Connected, wait, [handle](Entry *entry, bool ready) {
        if (ready)
            Deliver(handle, entry, EventRead, 0);
        return true;
    });
}

void FollowConnection(int handle, quint64 serial)
{
    PollConnected(handle, serial, ReadinessPoll::Wait::InUse);
}

void CompleteConnect(int handle, Entry *e)
{
    int error = RawSocket::PendingError(handle);
    if (error) {
        e->Watch = Mode::Closed;
        Enable(e->Read, false);
        Enable(e->Write, false);
    } else {
        // The write notifier stays on: a connected socket reports once that
        // it can take data.
        e->Watch = Mode::Connected;
        Enable(e->Read, true);
        FollowConnection(handle, e->Serial);
    }
    Deliver(handle, e, EventConnect, error);
}

void OnReadable(int handle, quint64 serial)
{
    Entry *e = Find(handle, serial);
    if (!e)
        return;
    switch (e->Watch) {
    case Mode::Listening:
        Deliver(handle, e, EventAccept, 0);
        return;
    case Mode::Datagram:
    case Mode::Connected:
        // A connection's read tells data from an end of stream or a reset
        // by itself; a peek first would cost a system call per reply.
        Deliver(handle, e, EventRead, 0);
        return;
    case Mode::Connecting:
        CompleteConnect(handle, e);
        return;
    case Mode::Idle:
    case Mode::Closed:
        Enable(e->Read, false);
        return;
    }
}

void OnWritable(int handle, quint64 serial)
{
    Entry *e = Find(handle, serial);
    if (!e)
        return;
    switch (e->Watch) {
    case Mode::Connecting:
        CompleteConnect(handle, e);
        return;
    case Mode::Connected:
    case Mode::Datagram:
        Enable(e->Write, false);
        Deliver(handle, e, EventWrite, 0);
        return;
    default:
        Enable(e->Write, false);
        return;
    }
}

void SetWatch(int handle, Mode mode, bool read, bool write)
{
    Entry *e = Find(handle);
    if (!e)
        return;
    e->Watch = mode;
    Enable(e->Read, read);
    Enable(e->Write, write);
}

// Lookup threads are never waited for: one that hangs in the resolver must
// not hold up the program's exit. A thread shares nothing with the rest of
// the program but this channel, which lives as long as either side; once
// the receiver on the user-interface thread is gone (the application is
// being torn down), finished lookups are dropped where they are.
struct LookupChannel {
    std::mutex Lock;
    QObject *Receiver = nullptr;
    int Running = 0;
};

// Lookups still running at a time; one more than this fails to start
// instead of adding a thread for every attempt against a hung resolver.
constexpr int kMaxRunningLookups = 32;

class LookupReceiver : public QObject
{
public:
    LookupReceiver(std::shared_ptr<LookupChannel> channel, QObject *parent)
        : QObject(parent), m_channel(std::move(channel))
    {
        std::lock_guard<std::mutex> hold(m_channel->Lock);
        m_channel->Receiver = this;
    }
    ~LookupReceiver() override
    {
        // Results posted to this object before now die with it.
        std::lock_guard<std::mutex> hold(m_channel->Lock);
        m_channel->Receiver = nullptr;
    }

private:
    std::shared_ptr<LookupChannel> m_channel;
};

const std::shared_ptr<LookupChannel> &Channel()
{
    static const auto channel = std::make_shared<LookupChannel>();
    return channel;
}

LookupResult ResolveWithPlatform(const QByteArray &name)
{
    const RawSocket::HostEntry entry = RawSocket::ResolveBlocking(name);
    return {entry.Error, entry.Name, entry.Address, entry.Addresses};
}

void RunLookup(const std::shared_ptr<LookupChannel> &channel, qint32 handle, const QByteArray &name,
               const BlockingResolver &resolve)
{
    const LookupResult result = resolve(name);
    std::lock_guard<std::mutex> hold(channel->Lock);
    --channel->Running;
    // Posting is safe under the lock: the receiver cannot go meanwhile.
    if (channel->Receiver)
        QMetaObject::invokeMethod(channel->Receiver, [handle, result] { CompleteLookup(handle, result); },
                                  Qt::QueuedConnection);
}

// 0 when the lookup thread is running, otherwise the error code.
int StartLookupThread(qint32 handle, const QByteArray &name)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return 10004;
    Support &s = S();
    const std::shared_ptr<LookupChannel> &channel = Channel();
    if (!s.Receiver)
        s.Receiver = new LookupReceiver(channel, app);
    {
        std::lock_guard<std::mutex> hold(channel->Lock);
        if (channel->Running >= kMaxRunningLookups)
            return 10055;
        ++channel->Running;
    }
    try {
        std::thread(RunLookup, channel, handle, name, s.Resolver ? s.Resolver : ResolveWithPlatform).detach();
    } catch (const std::system_error &) {
        std::lock_guard<std::mutex> hold(channel->Lock);
        --channel->Running;
        return 10055;
    }
    return 0;
}

} // namespace

long InitWinsockService()
{
    Support &s = S();
    if (s.ServiceStarted)
        return s.MaxDatagram;
    long result = s.Service ? s.Service() : 0;
    if (result != 0)
        throw RaisedError(result, QStringLiteral("modSocketSupport.InitWinsockService"),
                          SocketStartupDescription(result));
    s.ServiceStarted = true;
    ++s.StartCount;
    s.MaxDatagram = MaxDatagramSize;
    return s.MaxDatagram;
}

void StopWinsockService()
{
    Support &s = S();
    if (s.Sockets.empty() && s.ServiceStarted)
        s.ServiceStarted = false;
}

bool RegisterSocket(int handle, CSocket *owner)
{
    Support &s = S();
    if (!s.Window && !CreateSocketWindow()) {
        LastError::Set(10004, QStringLiteral("modSocketSupport.RegisterSocket"),
                       QStringLiteral("The operation was canceled."));
        return false;
    }
    if (s.Sockets.count(handle))
        return false;
    Entry &e = s.Sockets[handle];
    e.Owner = owner;
    e.Serial = ++s.LastSerial;
    int error = 0;
    if (!RawSocket::SetNonBlocking(handle, &error)) {
        // No entry is left behind for a handle that will never be watched: a
        // later socket with the same number could not be registered.
        s.Sockets.erase(handle);
        if (s.Sockets.empty())
            DestroySocketWindow();
        LastError::Set(error, QStringLiteral("modSocketSupport.RegisterSocket"), SocketErrorText(error));
        return false;
    }
    const quint64 serial = e.Serial;
    e.Read = new QSocketNotifier(handle, QSocketNotifier::Read, s.Window);
    e.Write = new QSocketNotifier(handle, QSocketNotifier::Write, s.Window);
    e.Read->setEnabled(false);
    e.Write->setEnabled(false);
    QObject::connect(e.Read, &QSocketNotifier::activated, s.Window, [handle, serial] { OnReadable(handle, serial); });
    QObject::connect(e.Write, &QSocketNotifier::activated, s.Window, [handle, serial] { OnWritable(handle, serial); });

    bool stream = true;
    quint32 address;
    quint16 port;
    if (RawSocket::IsStream(handle, &stream) && !stream) {
        SetWatch(handle, Mode::Datagram, true, true);
    } else if (RawSocket::PeerAddress(handle, &address, &port)) {
        SetWatch(handle, Mode::Connected, true, true); // a connection taken over by Accept
        FollowConnection(handle, serial);
    } else if (RawSocket::IsListening(handle)) {
        SetWatch(handle, Mode::Listening, true, false);
    }
    return true;
}

bool DeregisterSocket(int handle)
{
    Support &s = S();
    if (s.Sockets.empty() || handle == -1)
        return false;
    auto it = s.Sockets.find(handle);
    if (it == s.Sockets.end())
        return false;
    // Off before the handle is closed; deleted later because this may run
    // inside one of their own signals.
    for (QSocketNotifier *n : {it->second.Read, it->second.Write}) {
        if (n) {
            n->setEnabled(false);
            n->deleteLater();
        }
    }
    s.Sockets.erase(it);
    if (s.Sockets.empty())
        return DestroySocketWindow();
    return true;
}

qint32 ResolveHost(const QString &hostName, CSocket *owner)
{
    Support &s = S();
    QByteArray name = hostName.toLatin1();
    if (name.contains('\0') || name.size() > 255) {
        LastError::Set(10022, QStringLiteral("modSocketSupport.ResolveHost"), SocketErrorText(10022));
        return 0;
    }
    CancelLookups(owner);
    do {
        s.LastLookup = s.LastLookup == std::numeric_limits<qint32>::max() ? 1 : s.LastLookup + 1;
    } while (s.Lookups.count(s.LastLookup));
    const qint32 handle = s.LastLookup;
    s.Lookups[handle] = owner;
    if (s.Starter) {
        s.Starter(handle, name);
    } else if (const int error = StartLookupThread(handle, name)) {
        s.Lookups.erase(handle);
        LastError::Set(error, QStringLiteral("modSocketSupport.ResolveHost"), SocketErrorText(error));
        return 0;
    }
    return handle;
}

void CancelLookups(CSocket *owner)
{
    auto &lookups = S().Lookups;
    for (auto it = lookups.begin(); it != lookups.end();)
        it = it->second == owner ? lookups.erase(it) : std::next(it);
}

void CompleteLookup(qint32 lookupHandle, const LookupResult &result)
{
    auto &lookups = S().Lookups;
    auto it = lookups.find(lookupHandle);
    if (it == lookups.end())
        return;
    CSocket *owner = it->second;
    lookups.erase(it);
    if (result.Error != 0)
        owner->PostGetHostEvent(0, 0, QString(), result.Error);
    else
        owner->PostGetHostEvent(lookupHandle, result.Address, QString::fromLatin1(result.HostName), 0,
                                result.Addresses);
}

QObject *CreateSocketWindow()
{
    Support &s = S();
    if (!QCoreApplication::instance())
        return nullptr; // no event loop to deliver anything
    s.Window = new QObject;
    s.Window->setObjectName(QStringLiteral("SOCKET_WINDOW"));
    return s.Window;
}

bool DestroySocketWindow()
{
    Support &s = S();
    if (s.Window) {
        // May be running inside one of its notifiers' signals.
        s.Window->deleteLater();
        s.Window = nullptr;
    }
    return true;
}

void WatchConnect(int handle)
{
    SetWatch(handle, Mode::Connecting, false, true);
    Entry *e = Find(handle);
    if (!e)
        return;
    PollWhile(handle, e->Serial, Mode::Connecting, ReadinessPoll::Wait::Connect,
              [handle](Entry *entry, bool ready) {
                  if (ready)
                      CompleteConnect(handle, entry);
                  return !ready;
              });
}

void WatchPeerClose(int handle)
{
    Entry *e = Find(handle);
    if (!e || e->Watch != Mode::Connected)
        return;
    // Until the handle is released: whatever the peer still sends is read
    // on the way to its end.
    PollConnected(handle, e->Serial, ReadinessPoll::Wait::Readable);
}

void WatchAccept(int handle) { SetWatch(handle, Mode::Listening, true, false); }

void WatchWrite(int handle)
{
    if (Entry *e = Find(handle))
        Enable(e->Write, true);
}

void PostSocketEvent(int handle, int event)
{
    Entry *e = Find(handle);
    if (!e || !S().Window)
        return;
    const quint64 serial = e->Serial;
    QMetaObject::invokeMethod(
        S().Window,
        [handle, serial, event] {
            if (Entry *target = Find(handle, serial))
                Deliver(handle, target, event, 0);
        },
        Qt::QueuedConnection);
}

void SetLookupStarter(LookupStarter starter) { S().Starter = std::move(starter); }

void SetBlockingResolver(BlockingResolver resolver) { S().Resolver = std::move(resolver); }

void SetServiceStarter(ServiceStarter starter) { S().Service = std::move(starter); }

QObject *SocketWindow() { return S().Window; }

bool IsServiceStarted() { return S().ServiceStarted; }

int ServiceStartCount() { return S().StartCount; }

int RegisteredSocketCount() { return int(S().Sockets.size()); }

int PendingLookupCount() { return int(S().Lookups.size()); }

int RunningLookupThreads()
{
    std::lock_guard<std::mutex> hold(Channel()->Lock);
    return Channel()->Running;
}

} // namespace modSocketSupport
