#pragma once
// Connecting a socket to an address, or to a name with several addresses:
// these are tried one after another, and an attempt that has not
// connected after NextAddressDelay goes on beside the next one; the first
// to connect wins and the others are closed. The socket keeps its current
// attempt's handle and passes on the events of the earlier attempts, which
// are registered to it too.
#include <QList>
#include <functional>
#include <utility>
#include <vector>

#include "net/RawSocket.h"

class QObject;
class QTimer;

class AddressRace
{
  public:
    // How long a connect may take before the next address of the name is
    // tried beside it (milliseconds).
    static constexpr int NextAddressDelay = 300;

    // What the race asks of its socket.
    struct Hooks {
        // A fresh handle of the family HandleV6() names, stored in the
        // socket's handle and registered; false when none could be made.
        std::function<bool()> NewHandle;
        // The address of the current attempt is now the remote one.
        std::function<void(const RawSocket::Endpoint &)> Address;
        // The current attempt's connect is under way.
        std::function<void()> Started;
        // Nothing is left to try. fromLookup: the last address of a name
        // was refused on the spot, while the socket still stands.
        std::function<void(int error, bool fromLookup)> Failed;
    };

    // handle is the socket's current handle, which the race replaces as
    // attempts come and go; the next-address timer belongs to owner.
    AddressRace(QObject *owner, int &handle, Hooks hooks);
    AddressRace(const AddressRace &) = delete;
    AddressRace &operator=(const AddressRace &) = delete;

    // The family a new handle of the socket is made for.
    bool HandleV6() const { return m_handleV6; }

    // A connect to one address, typed as such.
    void ConnectAddress(const RawSocket::Endpoint &address, quint16 port);
    // A connect to the addresses a name was looked up to, in that order.
    void ConnectName(const QList<RawSocket::Endpoint> &addresses, quint16 port);

    // An event for the socket: false when the race has dealt with it, true
    // when it is the connection's (an earlier attempt that won has become
    // the current one by then).
    bool Event(int handle, int event, int error);

    // The connect is over: connected, given up or the socket released.
    // Earlier attempts are closed and nothing more is tried.
    void Stop();
    // The socket's handle was closed: the next one starts afresh.
    void Release();

  private:
    void ConnectTo(const RawSocket::Endpoint &address);
    void ConnectFailed(int error, bool atOnce);
    void NextDue();
    void CloseCurrent();
    void Adopt(int handle, const RawSocket::Endpoint &address);
    bool Pending() const { return !m_untried.isEmpty() || !m_racing.empty(); }

    QObject *m_owner;
    int &m_handle;
    Hooks m_hooks;
    quint16 m_port = 0;
    bool m_named = false;      // the addresses came from a lookup
    bool m_handleUsed = false; // a connect was started on the current handle
    bool m_handleV6 = false;
    RawSocket::Endpoint m_current;
    QList<RawSocket::Endpoint> m_untried;
    std::vector<std::pair<int, RawSocket::Endpoint>> m_racing;
    QTimer *m_tmrNextAddress = nullptr; // made on the first race, not for every socket
};
