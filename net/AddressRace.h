#pragma once
// Connecting to a name with several addresses: they are tried one after
// another, and an attempt that has not connected after NextAddressDelay
// goes on beside the next one; the first to connect wins and the others
// are closed. The socket keeps its current attempt's handle and passes on
// the events of the earlier attempts, which are registered to it too.
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

    // nextDue runs from the event loop once the current attempt has waited
    // NextAddressDelay with addresses still untried; the timer belongs to owner.
    AddressRace(QObject *owner, std::function<void()> nextDue);
    AddressRace(const AddressRace &) = delete;
    AddressRace &operator=(const AddressRace &) = delete;

    // The addresses of the name, in the order to try them.
    void Begin(const QList<RawSocket::Endpoint> &addresses) { m_untried = addresses; }
    bool HasUntried() const { return !m_untried.isEmpty(); }
    RawSocket::Endpoint TakeNext() { return m_untried.takeFirst(); }
    // Something besides the current attempt may still connect.
    bool Pending() const { return !m_untried.isEmpty() || !m_racing.empty(); }

    // The current attempt is under way: the next address is due later.
    void AttemptStarted();
    // The slow current attempt goes on beside the next one.
    void SetAside(int handle, const RawSocket::Endpoint &address);

    // After the current attempt failed: the next address, or else an
    // earlier attempt to carry on with, or else nothing (the connect failed).
    struct Next {
        enum Kind { TryAddress, CarryOn, GiveUp } What = GiveUp;
        RawSocket::Endpoint Address;
        int Handle = -1; // CarryOn: the attempt's handle
    };
    Next AfterFailure();

    // An event on a handle other than the current attempt's. Won hands the
    // attempt (and its address) over as the connection; a failed attempt
    // is closed here.
    enum class Settled { NotOurs, Dropped, Won };
    Settled Settle(int handle, bool connected, RawSocket::Endpoint *address);

    // The connect is over: connected, given up or the socket released.
    // Earlier attempts are closed and nothing more is tried.
    void Stop();

  private:
    QObject *m_owner;
    std::function<void()> m_nextDue;
    QList<RawSocket::Endpoint> m_untried;
    std::vector<std::pair<int, RawSocket::Endpoint>> m_racing;
    QTimer *m_tmrNextAddress = nullptr; // made on the first race, not for every socket
};
