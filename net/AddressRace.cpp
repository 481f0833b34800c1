#include "net/AddressRace.h"

#include "common/Error.h"
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

AddressRace::AddressRace(QObject *owner, int &handle, Hooks hooks)
    : m_owner(owner), m_handle(handle), m_hooks(std::move(hooks))
{
}

void AddressRace::ConnectAddress(const RawSocket::Endpoint &address, quint16 port)
{
    Stop();
    m_port = port;
    m_named = false;
    ConnectTo(address);
}

void AddressRace::ConnectName(const QList<RawSocket::Endpoint> &addresses, quint16 port)
{
    Stop();
    m_port = port;
    m_named = true;
    m_untried = addresses;
    ConnectTo(m_untried.takeFirst());
}

void AddressRace::ConnectTo(const RawSocket::Endpoint &address)
{
    // A handle takes one connect, of its own family. The old one is closed
    // unless it still races on (then it has been set aside already).
    if (m_handleUsed || address.V6 != m_handleV6) {
        CloseCurrent();
        m_handleV6 = address.V6;
        m_handleUsed = false;
        if (!m_hooks.NewHandle()) {
            ConnectFailed(LastError::Get().Number ? int(LastError::Get().Number) : 10055, true);
            return;
        }
    }
    m_handleUsed = true;
    m_current = address;
    if (m_named)
        m_hooks.Address(address);
    int error = RawSocket::Connect(m_handle, address, m_port);
    if (error == 0 || error == RawSocket::WouldBlock) {
        m_hooks.Started();
        modSocketSupport::WatchConnect(m_handle);
        if (m_untried.isEmpty())
            return;
        if (!m_tmrNextAddress) {
            m_tmrNextAddress = new QTimer(m_owner);
            m_tmrNextAddress->setSingleShot(true);
            QObject::connect(m_tmrNextAddress, &QTimer::timeout, m_owner, [this] { NextDue(); });
        }
        m_tmrNextAddress->start(NextAddressDelay);
        return;
    }
    ConnectFailed(error, true);
}

// The current attempt failed: on to the next address, or back to an
// earlier attempt still under way, or the connect has failed.
void AddressRace::ConnectFailed(int error, bool atOnce)
{
    if (!m_untried.isEmpty()) {
        ConnectTo(m_untried.takeFirst());
    } else if (!m_racing.empty()) {
        // The latest earlier attempt becomes the current one; any others
        // race on beside it.
        const auto [handle, address] = m_racing.back();
        m_racing.pop_back();
        Adopt(handle, address);
    } else {
        m_hooks.Failed(error, atOnce && m_named);
    }
}

// The current attempt is slow: the next address gets its chance beside it.
void AddressRace::NextDue()
{
    if (m_untried.isEmpty() || m_handle == -1)
        return;
    // ConnectTo makes a fresh handle for the next address.
    m_racing.emplace_back(std::exchange(m_handle, -1), m_current);
    ConnectTo(m_untried.takeFirst());
}

bool AddressRace::Event(int handle, int event, int error)
{
    if (handle != m_handle) {
        // An earlier attempt of the connect under way.
        auto it = std::find_if(m_racing.begin(), m_racing.end(),
                               [handle](const auto &attempt) { return attempt.first == handle; });
        if (it == m_racing.end())
            return false;
        const RawSocket::Endpoint address = it->second;
        m_racing.erase(it);
        if (event != modSocketSupport::EventConnect || error > 0) {
            CloseAttempt(handle);
            return false;
        }
        // It won: it becomes the connection, the current attempt is dropped.
        Adopt(handle, address);
    } else if (event == modSocketSupport::EventConnect && error > 0 && Pending()) {
        ConnectFailed(error, false);
        return false;
    }
    if (event == modSocketSupport::EventConnect && error == 0)
        Stop();
    return true;
}

void AddressRace::CloseCurrent()
{
    if (m_handle == -1)
        return;
    CloseAttempt(m_handle);
    m_handle = -1;
}

// An earlier attempt of the connect takes the current one's place.
void AddressRace::Adopt(int handle, const RawSocket::Endpoint &address)
{
    CloseCurrent();
    m_handle = handle;
    m_handleV6 = address.V6;
    m_handleUsed = true;
    m_current = address;
    m_hooks.Address(address);
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

void AddressRace::Release()
{
    Stop();
    m_handleUsed = false;
    m_handleV6 = false;
}
