#include "net/AddressRace.h"

#include "net/modSocketSupport.h"

#include <QTimer>
#include <algorithm>

namespace {

void CloseAttempt(int handle)
{
    modSocketSupport::DeregisterSocket(handle);
    RawSocket::Close(handle);
}

} // namespace

AddressRace::AddressRace(QObject *owner, std::function<void()> nextDue)
    : m_owner(owner), m_nextDue(std::move(nextDue))
{
}

void AddressRace::AttemptStarted()
{
    if (m_untried.isEmpty())
        return;
    if (!m_tmrNextAddress) {
        m_tmrNextAddress = new QTimer(m_owner);
        m_tmrNextAddress->setSingleShot(true);
        QObject::connect(m_tmrNextAddress, &QTimer::timeout, m_owner, [this] { m_nextDue(); });
    }
    m_tmrNextAddress->start(NextAddressDelay);
}

void AddressRace::SetAside(int handle, const RawSocket::Endpoint &address)
{
    m_racing.emplace_back(handle, address);
}

AddressRace::Next AddressRace::AfterFailure()
{
    Next next;
    if (!m_untried.isEmpty()) {
        next.What = Next::TryAddress;
        next.Address = m_untried.takeFirst();
    } else if (!m_racing.empty()) {
        // The latest earlier attempt becomes the current one; any others
        // race on beside it.
        next.What = Next::CarryOn;
        next.Handle = m_racing.back().first;
        next.Address = m_racing.back().second;
        m_racing.pop_back();
    }
    return next;
}

AddressRace::Settled AddressRace::Settle(int handle, bool connected, RawSocket::Endpoint *address)
{
    auto it = std::find_if(m_racing.begin(), m_racing.end(),
                           [handle](const auto &attempt) { return attempt.first == handle; });
    if (it == m_racing.end())
        return Settled::NotOurs;
    if (!connected) {
        CloseAttempt(handle);
        m_racing.erase(it);
        return Settled::Dropped;
    }
    *address = it->second;
    m_racing.erase(it);
    return Settled::Won;
}

void AddressRace::Stop()
{
    m_untried.clear();
    if (m_tmrNextAddress)
        m_tmrNextAddress->stop();
    for (const auto &attempt : m_racing)
        CloseAttempt(attempt.first);
    m_racing.clear();
}
