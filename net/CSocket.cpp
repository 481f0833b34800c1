#include "net/CSocket.h"

#include "common/Error.h"
#include "net/RawSocket.h"
#include "net/SocketErrorText.h"
#include "net/TlsChannel.h"
#include "net/modSocketSupport.h"

#include <QMetaMethod>
#include <QTimer>
#include <cstring>
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

template <typename T>
QByteArray BytesOf(T value)
{
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "values travel least significant byte first");
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

// Reads a value of full width from the start of the taken bytes; bytes
// beyond what was taken count as 0.
template <typename T>
T ValueOf(const QByteArray &bytes)
{
    T value{};
    std::memcpy(&value, bytes.constData(), std::min<size_t>(sizeof value, size_t(bytes.size())));
    return value;
}

QByteArray ToBytes(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::QString: return v.toString().toLatin1();
    case QMetaType::QByteArray: return v.toByteArray();
    case QMetaType::Short: return BytesOf(v.value<qint16>());
    case QMetaType::Int: return BytesOf(v.value<qint32>());
    case QMetaType::Double: return BytesOf(v.value<double>());
    case QMetaType::Bool: return BytesOf(qint16(v.toBool() ? -1 : 0));
    case QMetaType::UChar: return BytesOf(v.value<quint8>());
    default: break;
    }
    if (v.metaType() == QMetaType::fromType<SocketCurrency>())
        return BytesOf(v.value<SocketCurrency>().Scaled);
    if (v.metaType() == QMetaType::fromType<SocketDate>())
        return BytesOf(v.value<SocketDate>().Value);
    return QByteArray();
}

QVariant FromBytes(const QByteArray &bytes, int varType)
{
    switch (varType) {
    case SocketDataType::None:
    case SocketDataType::String: return QString::fromLatin1(bytes);
    case SocketDataType::ByteArray: return bytes;
    case SocketDataType::Boolean: return ValueOf<qint16>(bytes) != 0;
    case SocketDataType::Byte: return QVariant::fromValue(ValueOf<quint8>(bytes));
    case SocketDataType::Integer: return QVariant::fromValue(ValueOf<qint16>(bytes));
    case SocketDataType::Long: return QVariant::fromValue(ValueOf<qint32>(bytes));
    case SocketDataType::Double: return ValueOf<double>(bytes);
    case SocketDataType::Currency: return QVariant::fromValue(SocketCurrency{ValueOf<qint64>(bytes)});
    case SocketDataType::Date: return QVariant::fromValue(SocketDate{ValueOf<double>(bytes)});
    default: return QVariant();
    }
}

} // namespace

CSocket::CSocket(QObject *parent) : QObject(parent)
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
    int handle = RawSocket::Create(m_lngProtocol == ProtocolUdp, &error, m_blnHandleV6);
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
    ClearReceiveBuffer();
    DropRacing();
    m_untried.clear();
    m_objTls.reset();
    m_bytTlsHeld.clear();
    m_lngPlainQueued = 0;
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
    m_blnHandleUsed = false;
    m_blnHandleV6 = false;
}

// Earlier attempts of a connect that another address has won or that is
// being given up.
void CSocket::DropRacing()
{
    if (m_tmrNextAddress)
        m_tmrNextAddress->stop();
    for (const auto &attempt : m_racing) {
        modSocketSupport::DeregisterSocket(attempt.first);
        RawSocket::Close(attempt.first);
    }
    m_racing.clear();
}

// A fresh handle for the next connect attempt; the old one is closed unless
// it still races on (then it has been moved to m_racing already).
bool CSocket::ReplaceHandle(bool v6)
{
    if (m_lngSocketHandle != -1) {
        modSocketSupport::DeregisterSocket(m_lngSocketHandle);
        RawSocket::Close(m_lngSocketHandle);
        m_lngSocketHandle = -1;
    }
    m_blnHandleV6 = v6;
    m_blnHandleUsed = false;
    m_blnBound = false;
    return EnsureSocket();
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
    m_untried.clear();
    RawSocket::Endpoint address;
    if (!RawSocket::ParseAddress(m_strRemoteHost, &address)) {
        m_lngState = 4;
        m_lngPendingLookup = modSocketSupport::ResolveHost(m_strRemoteHost, this);
        if (m_lngPendingLookup == 0)
            ReleaseSocket();
        return;
    }
    ConnectTo(address, false);
}

void CSocket::ConnectTo(const RawSocket::Endpoint &address, bool afterLookup)
{
    quint16 port;
    if (!PortFrom(m_lngRemotePort, &port))
        return;
    // A handle takes one connect, of its own family.
    if ((m_blnHandleUsed || address.V6 != m_blnHandleV6) && !ReplaceHandle(address.V6)) {
        ConnectFailed(LastError::Get().Number ? int(LastError::Get().Number) : 10055, afterLookup, true);
        return;
    }
    m_blnHandleUsed = true;
    if (afterLookup)
        m_strRemoteHostIP = RawSocket::FormatAddress(address);
    int error = RawSocket::Connect(m_lngSocketHandle, address, port);
    if (error == 0 || error == RawSocket::WouldBlock) {
        m_lngState = 6;
        modSocketSupport::WatchConnect(m_lngSocketHandle);
        if (!m_untried.isEmpty()) {
            if (!m_tmrNextAddress) {
                m_tmrNextAddress = new QTimer(this);
                m_tmrNextAddress->setSingleShot(true);
                connect(m_tmrNextAddress, &QTimer::timeout, this, &CSocket::NextAddressDue);
            }
            m_tmrNextAddress->start(NextAddressDelay);
        }
        return;
    }
    ConnectFailed(error, afterLookup, true);
}

// The current attempt failed: on to the next address, or back to an
// earlier attempt still under way, or the connect has failed.
void CSocket::ConnectFailed(int error, bool afterLookup, bool atOnce)
{
    if (!m_untried.isEmpty()) {
        ConnectTo(m_untried.takeFirst(), afterLookup);
        return;
    }
    if (!m_racing.empty()) {
        if (m_lngSocketHandle != -1) {
            modSocketSupport::DeregisterSocket(m_lngSocketHandle);
            RawSocket::Close(m_lngSocketHandle);
        }
        m_lngSocketHandle = m_racing.back().first;
        m_blnHandleV6 = m_racing.back().second.V6;
        m_blnHandleUsed = true;
        m_strRemoteHostIP = RawSocket::FormatAddress(m_racing.back().second);
        m_racing.pop_back();
        return;
    }
    if (atOnce && afterLookup) {
        RaiseError(error, QStringLiteral("CSocket.PostGetHostEvent"));
        return;
    }
    // Refused on the spot: the owner hears of it like of a connect that
    // failed later, rather than waiting for an event that never comes.
    m_lngState = 9;
    ReleaseSocket();
    RaiseError(error, QString());
}

// The current attempt is slow: the next address gets its chance beside it.
void CSocket::NextAddressDue()
{
    if (m_lngState != 6 || m_untried.isEmpty() || m_lngSocketHandle == -1)
        return;
    m_racing.emplace_back(m_lngSocketHandle, RawSocket::Endpoint());
    RawSocket::ParseAddress(m_strRemoteHostIP, &m_racing.back().second);
    m_lngSocketHandle = -1; // ConnectTo makes a fresh one
    ConnectTo(m_untried.takeFirst(), true);
}

void CSocket::HandleSocketEvent(int handle, int event, int error)
{
    if (handle != m_lngSocketHandle) {
        // An earlier attempt of the connect under way.
        auto it = std::find_if(m_racing.begin(), m_racing.end(),
                               [handle](const auto &attempt) { return attempt.first == handle; });
        if (it == m_racing.end())
            return;
        if (event != modSocketSupport::EventConnect || error > 0) {
            modSocketSupport::DeregisterSocket(handle);
            RawSocket::Close(handle);
            m_racing.erase(it);
            return;
        }
        // It won: it becomes the connection, the current attempt is dropped.
        const RawSocket::Endpoint address = it->second;
        m_racing.erase(it);
        if (m_lngSocketHandle != -1) {
            modSocketSupport::DeregisterSocket(m_lngSocketHandle);
            RawSocket::Close(m_lngSocketHandle);
        }
        m_lngSocketHandle = handle;
        m_blnHandleV6 = address.V6;
        m_strRemoteHostIP = RawSocket::FormatAddress(address);
    } else if (event == modSocketSupport::EventConnect && error > 0 &&
               (!m_untried.isEmpty() || !m_racing.empty())) {
        ConnectFailed(error, true, false);
        return;
    }
    if (event == modSocketSupport::EventConnect && error == 0) {
        m_untried.clear();
        DropRacing();
    }
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
        m_untried = addresses;
        if (m_untried.isEmpty()) {
            RawSocket::Endpoint v4;
            v4.V4 = address;
            m_untried << v4;
        }
        ConnectTo(m_untried.takeFirst(), true);
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
    if (m_bytSend.size() > m_lngSendStart) // not sent meanwhile to an address set by hand
        FlushSendBuffer();
}

void CSocket::CloseSocket()
{
    if (m_lngSocketHandle == -1)
        return;
    if (m_lngState == 7 && m_objTls && m_objTls->State() == TlsChannel::Status::Established) {
        // close_notify tells the server the end is meant, not a cut.
        m_objTls->Shutdown();
        QueueTlsOutput();
        if (m_bytSend.size() > m_lngSendStart)
            FlushSendBuffer();
    }
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
            emit OnDataArrival(ReceiveBufferLength());
        break;
    }
    case modSocketSupport::EventWrite:
        if (m_bytSend.size() > m_lngSendStart) {
            FlushSendBuffer();
        } else if (m_blnSendPending) {
            m_blnSendPending = false;
            emit OnSendComplete();
        }
        break;
    case modSocketSupport::EventClose: {
        if (m_objTls) {
            QByteArray plain;
            const TlsChannel::Status status = m_objTls->EndOfInput(&plain);
            if (!plain.isEmpty()) {
                m_bytReceive += plain;
                emit OnDataArrival(ReceiveBufferLength());
                if (m_lngSocketHandle == -1)
                    return;
            }
            if (status == TlsChannel::Status::Failed) {
                FailTls();
                return;
            }
        }
        qint32 n;
        do {
            n = m_objTls ? 0 : ReceiveIntoBuffer();
            if (n > 0)
                emit OnDataArrival(ReceiveBufferLength());
        } while (n > 0);
        if (m_lngState != 8) {
            m_lngState = 8;
            if (m_bytSend.size() > m_lngSendStart)
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
    ClearReceiveBuffer();
    m_objTls = std::make_unique<TlsChannel>();
    if (!m_objTls->Start(serverName)) {
        FailTls();
        return;
    }
    QueueTlsOutput();
    if (m_bytSend.size() > m_lngSendStart)
        FlushSendBuffer();
}

bool CSocket::Encrypted() const
{
    return m_objTls && m_objTls->State() == TlsChannel::Status::Established;
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

// Cipher text the session wants sent joins the send queue behind what is
// already there: records must reach the server whole and in order.
void CSocket::QueueTlsOutput()
{
    const QByteArray out = m_objTls->TakeOutput();
    if (out.isEmpty())
        return;
    if (m_lngSendStart > 0) {
        m_bytSend.remove(0, m_lngSendStart);
        m_lngSendStart = 0;
    }
    m_bytSend += out;
}

void CSocket::FailTls()
{
    int code = SocketTlsError::Setup;
    switch (m_objTls ? m_objTls->FailureKind() : TlsChannel::Failure::Setup) {
    case TlsChannel::Failure::Handshake: code = SocketTlsError::Handshake; break;
    case TlsChannel::Failure::NotTls: code = SocketTlsError::NotTls; break;
    case TlsChannel::Failure::Protocol: code = SocketTlsError::Protocol; break;
    case TlsChannel::Failure::Truncated: code = SocketTlsError::Truncated; break;
    default: break;
    }
    QString text = SocketErrorText(code);
    if (m_objTls && !m_objTls->Error().isEmpty())
        text = text.chopped(1) + QStringLiteral(": ") + m_objTls->Error();
    if (!text.endsWith(QLatin1Char('.')) && !text.endsWith(QLatin1Char('?')))
        text += QLatin1Char('.');
    m_lngState = 9;
    ReleaseSocket();
    RaiseError(code, QString(), text);
}

// Cipher text from the server; false when the session failed (the socket
// is then released and the owner told).
bool CSocket::TlsIncoming(const char *data, qsizetype size, bool *closed)
{
    const bool handshaking = m_objTls->State() == TlsChannel::Status::Handshaking;
    QByteArray plain;
    const TlsChannel::Status status = m_objTls->Feed(data, size, &plain);
    QueueTlsOutput();
    if (m_bytSend.size() > m_lngSendStart)
        FlushSendBuffer();
    if (status == TlsChannel::Status::Failed) {
        FailTls();
        return false;
    }
    m_bytReceive += plain;
    m_lngBytesReceived += qint32(plain.size());
    *closed = status == TlsChannel::Status::Closed;
    if (handshaking && status != TlsChannel::Status::Handshaking) {
        if (!m_bytTlsHeld.isEmpty())
            SendBytes(std::exchange(m_bytTlsHeld, QByteArray()));
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
    const qsizetype before = ReceiveBufferLength();
    if (m_objTls) {
        const qint32 readSize = m_lngReadSize > 0 ? m_lngReadSize : FallbackReadSize;
        m_bytCipherIn.resize(readSize);
        n = RawSocket::Recv(m_lngSocketHandle, m_bytCipherIn.data(), readSize, &error);
        if (n > 0 && !TlsIncoming(m_bytCipherIn.constData(), n, &closed))
            return;
    } else {
        n = ReceiveIntoBuffer(&error);
        m_lngBytesReceived += qint32(std::max<qint64>(n, 0));
    }
    if (ReceiveBufferLength() > before) {
        emit OnDataArrival(ReceiveBufferLength());
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

void CSocket::SendData(const QVariant &varData) { SendBytes(ToBytes(varData)); }

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
        if (m_objTls->State() == TlsChannel::Status::Handshaking) {
            m_bytTlsHeld += bytes;
            return;
        }
        if (!m_objTls->Write(bytes))
            return;
        m_lngPlainQueued += bytes.size();
        m_blnSendPending = true;
        QueueTlsOutput();
        FlushSendBuffer();
        return;
    }
    m_bytSend = bytes;
    m_lngSendStart = 0;
    m_blnSendPending = true;
    FlushSendBuffer();
}

void CSocket::FlushSendBuffer()
{
    const qint64 len = m_bytSend.size() - m_lngSendStart;
    const char *data = m_bytSend.constData() + m_lngSendStart;
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
        m_lngSendStart += n;
        if (n > 0)
            modSocketSupport::WatchWrite(m_lngSocketHandle);
    } else {
        m_bytSend.clear();
        m_lngSendStart = 0;
        // The completion travels through the event loop, which costs a wake
        // up: only for an owner that listens.
        static const QMetaMethod complete = QMetaMethod::fromSignal(&CSocket::OnSendComplete);
        if (isSignalConnected(complete))
            modSocketSupport::PostSocketEvent(m_lngSocketHandle, modSocketSupport::EventWrite);
    }
    if (!m_objTls) {
        emit OnSendProgress(qint32(n), qint32(m_bytSend.size() - m_lngSendStart));
    } else if (m_lngPlainQueued > 0) {
        // Plain text counts, as the owner sent it: all of it once the last
        // of its cipher text is out, none before.
        const qint64 plain = m_lngPlainQueued;
        const bool done = m_bytSend.size() == m_lngSendStart;
        if (done)
            m_lngPlainQueued = 0;
        emit OnSendProgress(done ? qint32(plain) : 0, done ? 0 : qint32(plain));
    }
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
    // Drop what GetData has taken once it outweighs what is still waiting,
    // so each byte is moved at most a bounded number of times.
    if (m_lngReceiveStart > 0 && m_lngReceiveStart >= m_bytReceive.size() - m_lngReceiveStart) {
        m_bytReceive.remove(0, m_lngReceiveStart);
        m_lngReceiveStart = 0;
    }
    const qsizetype old = m_bytReceive.size();
    m_bytReceive.resize(old + readSize);
    int error = 0;
    qint64 n;
    if (m_lngProtocol == ProtocolTcp) {
        n = RawSocket::Recv(m_lngSocketHandle, m_bytReceive.data() + old, readSize, &error);
    } else {
        quint32 address = 0;
        quint16 port = 0;
        n = RawSocket::RecvFrom(m_lngSocketHandle, m_bytReceive.data() + old, readSize, &address, &port, &error);
        if (n >= 0) {
            m_lngRemotePort = port;
            m_strRemoteHostIP = RawSocket::FormatDotted(address);
            // The dotted address, not a reverse lookup that would block.
            m_strRemoteHost = m_strRemoteHostIP;
        }
    }
    m_bytReceive.resize(old + std::max<qint64>(n, 0));
    *errorOut = error;
    return n;
}

void CSocket::ClearReceiveBuffer()
{
    m_bytReceive.clear();
    m_lngReceiveStart = 0;
}

bool CSocket::TakeData(bool peek, int maxLen, QByteArray *taken)
{
    const qsizetype available = m_bytReceive.size() - m_lngReceiveStart;
    if (available == 0)
        return false;
    if (maxLen >= 1 && maxLen <= available) {
        *taken = m_bytReceive.mid(m_lngReceiveStart, maxLen);
        if (!peek)
            m_lngReceiveStart += maxLen;
    } else if (peek) {
        *taken = m_bytReceive.mid(m_lngReceiveStart);
    } else if (m_lngReceiveStart == 0) {
        *taken = std::move(m_bytReceive); // the whole buffer changes hands without a copy
        ClearReceiveBuffer();
    } else {
        *taken = m_bytReceive.mid(m_lngReceiveStart);
        ClearReceiveBuffer();
    }
    if (m_lngReceiveStart == m_bytReceive.size())
        ClearReceiveBuffer();
    m_lngBytesReceived = ReceiveBufferLength();
    return true;
}

void CSocket::TakeVariant(QVariant &varData, int varType, int maxLen, bool peek)
{
    QByteArray taken;
    if (!TakeData(peek, maxLen, &taken))
        return;
    QVariant value = FromBytes(taken, varType);
    if (value.isValid())
        varData = value;
}

void CSocket::GetData(QVariant &varData, int varType, int maxLen) { TakeVariant(varData, varType, maxLen, false); }

void CSocket::PeekData(QVariant &varData, int varType, int maxLen) { TakeVariant(varData, varType, maxLen, true); }
