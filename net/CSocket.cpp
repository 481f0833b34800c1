#include "net/CSocket.h"

#include "common/Error.h"
#include "net/RawSocket.h"
#include "net/SocketErrorText.h"
#include "net/SocketTls.h"
#include "net/modSocketSupport.h"

#include <QMetaMethod>
#include <algorithm>
#include <limits>

namespace {

constexpr int ProtocolTcp = 0;
constexpr int ProtocolUdp = 1;
constexpr qint32 FallbackReadSize = 65536;

bool PortFrom(qint64 value, quint16 *port)
{
    if (value < 0 || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

} // namespace

CSocket::CSocket(QObject *parent) : QObject(parent), m_objRace(this, m_lngSocketHandle, RaceHooks())
{
    m_lngMaxDatagram = qint32(modSocketSupport::InitWinsockService());
}

CSocket::~CSocket()
{
    modSocketSupport::CancelLookups(this);
    if (m_lngSocketHandle != -1)
        ReleaseSocket();
    modSocketSupport::StopWinsockService();
}

// ---- properties -----------------------------------------------------------

void CSocket::SetRemoteHost(const QString &value)
{
    m_strRemoteHost = value;
    quint32 address;
    if (value.isEmpty() || !RawSocket::ParseDotted(value, &address))
        return;
    m_strRemoteHostIP = value;
    if (m_lngProtocol != ProtocolUdp || !EnsureSocket())
        return;
    const bool broadcast = value.endsWith(QLatin1String(".255"));
    if (broadcast != m_blnBroadcast && RawSocket::SetBroadcast(m_lngSocketHandle, broadcast))
        m_blnBroadcast = broadcast;
}

void CSocket::SetProtocol(qint32 value)
{
    if (m_lngSocketHandle == -1)
        m_lngProtocol = value;
}

// ---- connection life ------------------------------------------------------

bool CSocket::EnsureSocket()
{
    if (m_lngSocketHandle != -1)
        return true;
    m_lngSocketHandle = CreateSocketHandle();
    if (m_lngSocketHandle == -1)
        return false;
    QueryReadSize();
    return true;
}

int CSocket::CreateSocketHandle()
{
    // Like the platform this layer stands for: no socket once the service
    // has been stopped, until a new object starts it again.
    if (!modSocketSupport::IsServiceStarted())
        return -1;
    int error = 0;
    int handle = RawSocket::Create(m_lngProtocol == ProtocolUdp, &error, m_objRace.HandleV6());
    if (handle == -1)
        return -1;
    if (!modSocketSupport::RegisterSocket(handle, this)) {
        RawSocket::Close(handle);
        return -1;
    }
    return handle;
}

void CSocket::QueryReadSize()
{
    int size = 0;
    if (m_lngProtocol == ProtocolUdp)
        m_lngReadSize = m_lngMaxDatagram;
    else if (RawSocket::ReceiveBufferSize(m_lngSocketHandle, &size))
        m_lngReadSize = size;
}

void CSocket::ReleaseSocket()
{
    m_objReceive.Clear();
    m_objRace.Release();
    m_objTls.reset();
    if (m_lngSocketHandle == -1)
        return;
    // A lookup still running for this connection must not come back to a
    // handle number that may by then belong to another socket.
    modSocketSupport::CancelLookups(this);
    m_lngPendingLookup = 0;
    // Closed even if it was never registered (an Accept whose registration failed).
    modSocketSupport::DeregisterSocket(m_lngSocketHandle);
    RawSocket::Close(m_lngSocketHandle);
    m_lngSocketHandle = -1;
    m_blnBound = false;
    m_blnBroadcast = false;
}

void CSocket::RaiseError(int number, const QString &source, const QString &text)
{
    QString description = text.isEmpty() ? SocketErrorText(number) : text;
    bool cancelDisplay = false;
    emit OnError(qint16(number), description, 0, source, QString(), 0, cancelDisplay);
}

void CSocket::Connect(const QString &strRemoteHost, const QVariant &lngRemotePort)
{
    if (!EnsureSocket())
        return;
    if (!strRemoteHost.isEmpty())
        m_strRemoteHost = strRemoteHost;
    if (lngRemotePort.isValid()) {
        bool ok = false;
        qlonglong port = lngRemotePort.toLongLong(&ok);
        if (ok) {
            if (port < std::numeric_limits<qint32>::min() || port > std::numeric_limits<qint32>::max())
                return;
            m_lngRemotePort = qint32(port);
        }
    }
    if (m_strRemoteHost.isEmpty())
        return;
    m_lngLookupPurpose = 0;
    // An earlier connect still racing must not win this one.
    m_objRace.Stop();
    RawSocket::Endpoint address;
    if (!RawSocket::ParseAddress(m_strRemoteHost, &address)) {
        m_lngState = 4;
        m_lngPendingLookup = modSocketSupport::ResolveHost(m_strRemoteHost, this);
        if (m_lngPendingLookup == 0)
            ReleaseSocket();
        return;
    }
    quint16 port;
    if (PortFrom(m_lngRemotePort, &port))
        m_objRace.ConnectAddress(address, port);
}

AddressRace::Hooks CSocket::RaceHooks()
{
    AddressRace::Hooks hooks;
    hooks.NewHandle = [this] {
        m_blnBound = false; // the binding was the old handle's
        return EnsureSocket();
    };
    hooks.Address = [this](const RawSocket::Endpoint &address) {
        m_strRemoteHostIP = RawSocket::FormatAddress(address);
    };
    hooks.Started = [this] { m_lngState = 6; };
    hooks.Failed = [this](int error, bool fromLookup) { ConnectFailed(error, fromLookup); };
    return hooks;
}

// No address of the connect is left to try.
void CSocket::ConnectFailed(int error, bool fromLookup)
{
    if (fromLookup) {
        RaiseError(error, QStringLiteral("CSocket.PostGetHostEvent"));
        return;
    }
    // Refused on the spot: the owner hears of it like of a connect that
    // failed later, rather than waiting for an event that never comes.
    m_lngState = 9;
    ReleaseSocket();
    RaiseError(error, QString());
}

void CSocket::HandleSocketEvent(int handle, int event, int error)
{
    if (m_objRace.Event(handle, event, error))
        HandleNetworkEvent(event, error);
}

void CSocket::PostGetHostEvent(qint32 lookupHandle, quint32 address, const QString &hostName, int error,
                               const QList<RawSocket::Endpoint> &addresses)
{
    if (error > 0) {
        if (!RawSocket::ParseDotted(hostName, &address)) {
            m_lngState = 9;
            RaiseError(error, QString());
            return;
        }
    }
    if (lookupHandle == 0 || lookupHandle != m_lngPendingLookup)
        return;
    m_lngPendingLookup = 0;
    m_lngState = 5;
    m_strRemoteHost = hostName;
    if (m_lngLookupPurpose == 0) {
        RawSocket::Endpoint v4;
        v4.V4 = address;
        quint16 port;
        if (PortFrom(m_lngRemotePort, &port))
            m_objRace.ConnectName(addresses.isEmpty() ? QList{v4} : addresses, port);
        return;
    }
    // Datagrams stay IPv4.
    for (const RawSocket::Endpoint &e : addresses) {
        if (!e.V6) {
            address = e.V4;
            break;
        }
    }
    m_strRemoteHostIP = RawSocket::FormatDotted(address);
    if (!m_objSend.IsEmpty()) // not sent meanwhile to an address set by hand
        FlushSendBuffer();
}

void CSocket::CloseSocket()
{
    if (m_lngSocketHandle == -1)
        return;
    // close_notify tells the server the end is meant, not a cut.
    if (m_lngState == 7 && m_objTls)
        m_objTls->Shutdown();
    if (m_lngState == 7) {
        m_lngState = 8;
        RawSocket::Shutdown(m_lngSocketHandle, true);
        modSocketSupport::WatchPeerClose(m_lngSocketHandle);
        return;
    }
    ReleaseSocket();
    m_lngState = 0;
}

void CSocket::Bind(qint32 lngLocalPort, const QString &strLocalIP)
{
    if (!EnsureSocket())
        return;
    if (!strLocalIP.isEmpty())
        m_strLocalIP = strLocalIP;
    if (lngLocalPort > 0)
        m_lngLocalPort = lngLocalPort;
    quint32 address = 0;
    if (!m_strLocalIP.isEmpty() && !RawSocket::ParseDotted(m_strLocalIP, &address))
        return;
    quint16 port;
    if (!PortFrom(m_lngLocalPort, &port))
        return;
    if (RawSocket::Bind(m_lngSocketHandle, address, port) == 0)
        m_blnBound = true;
}

void CSocket::Listen()
{
    if (!EnsureSocket())
        return;
    if (!m_blnBound)
        Bind(0, QString());
    if (RawSocket::Listen(m_lngSocketHandle, 5) == 0) {
        m_lngState = 2;
        modSocketSupport::WatchAccept(m_lngSocketHandle);
    } else {
        m_lngState = 9;
    }
}

void CSocket::ReadLocalAddress()
{
    RawSocket::Endpoint address;
    quint16 port;
    if (!RawSocket::LocalEndpoint(m_lngSocketHandle, &address, &port))
        return;
    m_lngLocalPort = port;
    m_strLocalIP = RawSocket::FormatAddress(address);
    // The address stands in for the name: a reverse lookup here would block
    // the user-interface thread.
    m_strLocalHostName = m_strLocalIP;
}

void CSocket::Accept(int requestID)
{
    if (m_lngSocketHandle != -1 && m_lngSocketHandle != requestID)
        ReleaseSocket(); // the old connection would otherwise leak
    m_lngSocketHandle = requestID;
    ReadLocalAddress();
    quint32 address;
    quint16 port;
    if (RawSocket::PeerAddress(requestID, &address, &port)) {
        m_lngRemotePort = port;
        m_strRemoteHostIP = RawSocket::FormatDotted(address);
        m_strRemoteHost = m_strRemoteHostIP;
    }
    bool stream = true;
    if (RawSocket::IsStream(requestID, &stream))
        m_lngProtocol = stream ? ProtocolTcp : ProtocolUdp;
    QueryReadSize();
    if (modSocketSupport::RegisterSocket(requestID, this))
        m_lngState = 7;
}

// ---- events ---------------------------------------------------------------

void CSocket::HandleNetworkEvent(int event, int error)
{
    if (error > 0) {
        m_lngState = 9;
        ReleaseSocket();
        RaiseError(error, QString());
        return;
    }
    switch (event) {
    case modSocketSupport::EventRead: {
        if (m_lngProtocol == ProtocolTcp) {
            ReadStream();
            break;
        }
        qint32 n = ReceiveIntoBuffer();
        m_lngBytesReceived += n;
        if (n > 0)
            emit OnDataArrival(qint32(m_objReceive.Size()));
        break;
    }
    case modSocketSupport::EventWrite:
        if (!m_objSend.IsEmpty()) {
            FlushSendBuffer();
        } else if (m_blnSendPending) {
            m_blnSendPending = false;
            emit OnSendComplete();
        }
        break;
    case modSocketSupport::EventClose: {
        if (m_objTls) {
            const SocketTls::Input in = m_objTls->EndOfInput();
            if (in.Plain > 0) {
                emit OnDataArrival(qint32(m_objReceive.Size()));
                if (m_lngSocketHandle == -1)
                    return;
            }
            if (in.Failed) {
                FailTls();
                return;
            }
        }
        qint32 n;
        do {
            n = m_objTls ? 0 : ReceiveIntoBuffer();
            if (n > 0)
                emit OnDataArrival(qint32(m_objReceive.Size()));
        } while (n > 0);
        if (m_lngState != 8) {
            m_lngState = 8;
            if (!m_objSend.IsEmpty())
                FlushSendBuffer();
        }
        ReleaseSocket();
        m_lngState = 0;
        emit OnClose();
        break;
    }
    case modSocketSupport::EventAccept: {
        int acceptError = 0;
        int handle = RawSocket::Accept(m_lngSocketHandle, &acceptError);
        emit OnConnectionRequest(handle);
        break;
    }
    case modSocketSupport::EventConnect:
        ReadLocalAddress();
        m_lngState = 7;
        emit OnConnect();
        break;
    default:
        break;
    }
}

// ---- encryption -----------------------------------------------------------

void CSocket::StartEncryption(const QString &serverName)
{
    if (m_lngProtocol != ProtocolTcp || m_lngState != 7 || m_objTls)
        return;
    // Whatever came before the handshake is not protected by it.
    m_objReceive.Clear();
    m_objTls = std::make_unique<SocketTls>(m_objSend, m_objReceive, [this] { FlushSendBuffer(); });
    if (!m_objTls->Start(serverName))
        FailTls();
}

bool CSocket::Encrypted() const
{
    return m_objTls && m_objTls->Established();
}

QString CSocket::EncryptionDescription() const { return m_objTls ? m_objTls->Description() : QString(); }

QString CSocket::CertificateProblem() const
{
    return m_objTls ? m_objTls->CertificateProblem() : QStringLiteral("the connection is not encrypted");
}

QString CSocket::CertificateFingerprint() const
{
    return m_objTls ? m_objTls->CertificateFingerprint() : QString();
}

void CSocket::FailTls()
{
    const int code = m_objTls->FailureCode();
    const QString text = m_objTls->FailureDescription();
    m_lngState = 9;
    ReleaseSocket();
    RaiseError(code, QString(), text);
}

// Cipher text from the server; false when the session failed (the socket
// is then released and the owner told).
bool CSocket::TlsIncoming(const char *data, qsizetype size, bool *closed)
{
    const SocketTls::Input in = m_objTls->Feed(data, size);
    if (!m_objTls) // the owner ended the connection on hearing of the sending
        return false;
    if (in.Failed) {
        FailTls();
        return false;
    }
    m_lngBytesReceived += qint32(in.Plain);
    *closed = in.Closed;
    if (in.Secured) {
        emit OnEncrypted();
        if (m_lngSocketHandle == -1 || !m_objTls)
            return false;
    }
    return true;
}

// One read of a connection. It tells data, the end of the stream and a
// reset apart by itself, so no peek is needed before it.
void CSocket::ReadStream()
{
    if (m_lngSocketHandle == -1)
        return;
    int error = 0;
    qint64 n;
    bool closed = false;
    const qsizetype before = m_objReceive.Size();
    if (m_objTls) {
        const qint32 readSize = m_lngReadSize > 0 ? m_lngReadSize : FallbackReadSize;
        char *cipher = m_objTls->ReadBuffer(readSize);
        n = RawSocket::Recv(m_lngSocketHandle, cipher, readSize, &error);
        if (n > 0 && !TlsIncoming(cipher, n, &closed))
            return;
    } else {
        n = ReceiveIntoBuffer(&error);
        m_lngBytesReceived += qint32(std::max<qint64>(n, 0));
    }
    if (m_objReceive.Size() > before) {
        emit OnDataArrival(qint32(m_objReceive.Size()));
        if (m_lngSocketHandle == -1)
            return;
    }
    if (n > 0 && !closed)
        return;
    if (n < 0 && (error == RawSocket::WouldBlock || error == 10004))
        return;
    // End of stream (or close_notify) or a reset: reported once, as the close event.
    HandleNetworkEvent(modSocketSupport::EventClose, n < 0 ? error : 0);
}

// ---- data path ------------------------------------------------------------

void CSocket::SendData(const QVariant &varData) { SendBytes(SocketData::ToBytes(varData)); }

void CSocket::SendBytes(const QByteArray &bytes)
{
    if (m_lngProtocol == ProtocolTcp) {
        if (m_lngSocketHandle == -1)
            return;
    } else if (!EnsureSocket()) {
        return;
    }
    if (bytes.isEmpty())
        return; // nothing to send; an unsent tail stays queued
    if (m_objTls) {
        m_objTls->Write(bytes);
        return;
    }
    m_objSend.Assign(bytes);
    m_blnSendPending = true;
    FlushSendBuffer();
}

void CSocket::FlushSendBuffer()
{
    const qint64 len = m_objSend.Size();
    const char *data = m_objSend.Data();
    m_blnSendPending = true;
    qint64 n;
    int error = 0;
    if (m_lngProtocol == ProtocolTcp) {
        n = RawSocket::Send(m_lngSocketHandle, data, len, &error);
    } else if (m_strRemoteHostIP.isEmpty()) {
        // The target is a name: the datagram waits for the lookup, which
        // comes back here. One lookup at a time is enough.
        if (!(m_lngLookupPurpose == 1 && m_lngPendingLookup != 0)) {
            m_lngLookupPurpose = 1;
            m_lngPendingLookup = modSocketSupport::ResolveHost(m_strRemoteHost, this);
        }
        n = 0;
    } else {
        quint32 address;
        quint16 port;
        if (!RawSocket::ParseDotted(m_strRemoteHostIP, &address) || !PortFrom(m_lngRemotePort, &port))
            return;
        n = RawSocket::SendTo(m_lngSocketHandle, data, len, address, port, &error);
    }
    if (n < 0) {
        if (error == RawSocket::WouldBlock)
            modSocketSupport::WatchWrite(m_lngSocketHandle);
        return;
    }
    if (len > n) {
        m_objSend.Consume(n);
        if (n > 0)
            modSocketSupport::WatchWrite(m_lngSocketHandle);
    } else {
        m_objSend.Clear();
        // The completion travels through the event loop, which costs a wake
        // up: only for an owner that listens.
        static const QMetaMethod complete = QMetaMethod::fromSignal(&CSocket::OnSendComplete);
        if (isSignalConnected(complete))
            modSocketSupport::PostSocketEvent(m_lngSocketHandle, modSocketSupport::EventWrite);
    }
    qint32 sent = 0, remaining = 0;
    if (!m_objTls)
        emit OnSendProgress(qint32(n), qint32(m_objSend.Size()));
    else if (m_objTls->PlainProgress(m_objSend.IsEmpty(), &sent, &remaining))
        emit OnSendProgress(sent, remaining);
}

qint32 CSocket::ReceiveIntoBuffer()
{
    int error = 0;
    return qint32(std::max<qint64>(ReceiveIntoBuffer(&error), 0));
}

qint64 CSocket::ReceiveIntoBuffer(int *errorOut)
{
    *errorOut = 0;
    if (m_lngSocketHandle == -1)
        return 0;
    const qint32 readSize = m_lngReadSize > 0 ? m_lngReadSize : FallbackReadSize;
    char *room = m_objReceive.Reserve(readSize);
    int error = 0;
    qint64 n;
    if (m_lngProtocol == ProtocolTcp) {
        n = RawSocket::Recv(m_lngSocketHandle, room, readSize, &error);
    } else {
        quint32 address = 0;
        quint16 port = 0;
        n = RawSocket::RecvFrom(m_lngSocketHandle, room, readSize, &address, &port, &error);
        if (n >= 0) {
            m_lngRemotePort = port;
            m_strRemoteHostIP = RawSocket::FormatDotted(address);
            // The dotted address, not a reverse lookup that would block.
            m_strRemoteHost = m_strRemoteHostIP;
        }
    }
    m_objReceive.Commit(n);
    *errorOut = error;
    return n;
}

void CSocket::TakeVariant(QVariant &varData, int varType, int maxLen, bool peek)
{
    if (m_objReceive.IsEmpty())
        return;
    const QByteArray taken = peek ? m_objReceive.Peek(maxLen) : m_objReceive.Take(maxLen);
    m_lngBytesReceived = qint32(m_objReceive.Size());
    // Bytes without a conversion are gone all the same.
    if (const QVariant value = SocketData::FromBytes(taken, varType); value.isValid())
        varData = value;
}

void CSocket::GetData(QVariant &varData, int varType, int maxLen) { TakeVariant(varData, varType, maxLen, false); }

void CSocket::PeekData(QVariant &varData, int varType, int maxLen) { TakeVariant(varData, varType, maxLen, true); }
