#pragma once
// Asynchronous socket object (TCP over IPv4 or IPv6, UDP over IPv4) that
// never blocks and reports to its owner through signals, connected directly
// and raised synchronously. An owner that drops the object from inside one
// of its signals must use deleteLater(). A TCP connection can be switched
// to TLS; from then on everything the owner sends and receives is plain
// text, as before.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <memory>
#include <type_traits>

#include "net/AddressRace.h"
#include "net/ByteQueue.h"
#include "net/RawSocket.h"
#include "net/SocketData.h"
#include "net/SocketTls.h"

class CSocket : public QObject
{
    Q_OBJECT

public:
    // Raises RaisedError when the socket service cannot be started.
    explicit CSocket(QObject *parent = nullptr);
    ~CSocket() override;

    // Properties.
    qint32 State() const { return m_lngState; }
    int SocketHandle() const { return m_lngSocketHandle; }
    qint32 RemotePort() const { return m_lngRemotePort; }
    void SetRemotePort(qint32 value) { m_lngRemotePort = value; }
    QString RemoteHostIP() const { return m_strRemoteHostIP; }
    QString RemoteHost() const { return m_strRemoteHost; }
    void SetRemoteHost(const QString &value);
    qint32 Protocol() const { return m_lngProtocol; }
    void SetProtocol(qint32 value);
    qint32 LocalPort() const { return m_lngLocalPort; }
    void SetLocalPort(qint32 value) { m_lngLocalPort = value; }
    QString LocalIP() const { return m_strLocalIP; }
    QString LocalHostName() const { return m_strLocalHostName; }
    qint32 BytesReceived() const { return m_lngBytesReceived; }

    // Methods. None reports failure to the caller; failures of the
    // connection arrive as OnError.
    void Connect(const QString &strRemoteHost = QString(), const QVariant &lngRemotePort = QVariant());
    void CloseSocket();
    void Bind(qint32 lngLocalPort = 0, const QString &strLocalIP = QString());
    void Listen();
    void Accept(int requestID);

    // The value's type picks the data type code: QString text, QByteArray
    // array of bytes, qint16, qint32, double, SocketCurrency, SocketDate,
    // bool, quint8. Anything else (and empty data) sends nothing.
    void SendData(const QVariant &varData);
    void SendData(const QString &text) { SendBytes(text.toLatin1()); }
    void SendData(const char *text) { SendBytes(QByteArray(text)); }
    void SendData(const QByteArray &bytes) { SendBytes(bytes); }
    template <typename T>
    void SendData(T value)
        requires(std::is_arithmetic_v<T> || std::is_same_v<T, SocketCurrency> || std::is_same_v<T, SocketDate>)
    {
        SendData(QVariant::fromValue(value));
    }

    // varType None takes text; maxLen between 1 and the buffer's length takes
    // that many bytes, anything else the whole buffer. An empty buffer, or a
    // type code without a conversion, leaves varData as it was.
    void GetData(QVariant &varData, int varType = SocketDataType::None, int maxLen = 0);
    void PeekData(QVariant &varData, int varType = SocketDataType::None, int maxLen = 0);
    // Typed forms: the code follows from the variable's type.
    template <typename T>
    void GetData(T &varData, int maxLen = 0) { TakeInto(varData, maxLen, false); }
    template <typename T>
    void PeekData(T &varData, int maxLen = 0) { TakeInto(varData, maxLen, true); }

    // TLS, client side, on a connected TCP socket: OnEncrypted follows the
    // handshake, OnError a failure. The certificate is checked against
    // serverName (a name or an IP literal); the verdict is the owner's.
    void StartEncryption(const QString &serverName);
    bool Encrypted() const;
    // "TLSv1.3, TLS_AES_256_GCM_SHA384" once encrypted.
    QString EncryptionDescription() const;
    // Empty when the system's authorities vouch for the certificate and it
    // names the server; otherwise the reason.
    QString CertificateProblem() const;
    // SHA-256 of the server's certificate, "AA:BB:...".
    QString CertificateFingerprint() const;

    // How long a connect may take before the next address of the name is
    // tried beside it (milliseconds).
    static constexpr int NextAddressDelay = AddressRace::NextAddressDelay;

    // Reserved for the socket support module.
    void HandleSocketEvent(int handle, int event, int error);
    void HandleNetworkEvent(int event, int error);
    void PostGetHostEvent(qint32 lookupHandle, quint32 address, const QString &hostName, int error,
                          const QList<RawSocket::Endpoint> &addresses = {});

signals:
    void OnClose();
    void OnConnect();
    void OnConnectionRequest(qint32 requestID);
    void OnDataArrival(qint32 bytesTotal);
    void OnEncrypted();
    void OnError(qint16 Number, QString &Description, qint32 Scode, const QString &Source,
                 const QString &HelpFile, qint32 HelpContext, bool &CancelDisplay);
    void OnSendComplete();
    void OnSendProgress(qint32 bytesSent, qint32 bytesRemaining);

private:
    bool EnsureSocket();
    int CreateSocketHandle();
    void QueryReadSize();
    void ReleaseSocket();
    AddressRace::Hooks RaceHooks();
    void ConnectFailed(int error, bool fromLookup);
    void RaiseError(int number, const QString &source, const QString &description = QString());
    void ReadLocalAddress();

    void SendBytes(const QByteArray &bytes);
    void FlushSendBuffer();
    qint32 ReceiveIntoBuffer();
    qint64 ReceiveIntoBuffer(int *error); // -1 with *error, 0 at the end of the stream
    void ReadStream();
    bool TlsIncoming(const char *data, qsizetype size, bool *closed);
    void FailTls();
    void TakeVariant(QVariant &varData, int varType, int maxLen, bool peek);

    template <typename T>
    void TakeInto(T &varData, int maxLen, bool peek)
    {
        QVariant v;
        TakeVariant(v, TypeCodeOf<T>(), maxLen, peek);
        if (v.isValid())
            varData = v.value<T>();
    }
    template <typename T>
    static constexpr int TypeCodeOf()
    {
        if constexpr (std::is_same_v<T, QString>) return SocketDataType::String;
        else if constexpr (std::is_same_v<T, QByteArray>) return SocketDataType::ByteArray;
        else if constexpr (std::is_same_v<T, bool>) return SocketDataType::Boolean;
        else if constexpr (std::is_same_v<T, quint8>) return SocketDataType::Byte;
        else if constexpr (std::is_same_v<T, qint16>) return SocketDataType::Integer;
        else if constexpr (std::is_same_v<T, qint32>) return SocketDataType::Long;
        else if constexpr (std::is_same_v<T, double>) return SocketDataType::Double;
        else if constexpr (std::is_same_v<T, SocketCurrency>) return SocketDataType::Currency;
        else if constexpr (std::is_same_v<T, SocketDate>) return SocketDataType::Date;
        else static_assert(sizeof(T) == 0, "no socket data type for this variable");
    }

    qint32 m_lngState = 0;
    int m_lngSocketHandle = -1;
    qint32 m_lngRemotePort = 0;
    QString m_strRemoteHostIP;
    QString m_strRemoteHost;
    qint32 m_lngProtocol = 0;
    qint32 m_lngLocalPort = 0;
    QString m_strLocalIP;
    QString m_strLocalHostName;
    qint32 m_lngBytesReceived = 0;

    qint32 m_lngReadSize = 0;
    qint32 m_lngMaxDatagram = 0;
    bool m_blnBound = false;
    bool m_blnBroadcast = false;
    qint32 m_lngLookupPurpose = 0;
    qint32 m_lngPendingLookup = 0;

    ByteQueue m_objSend;
    ByteQueue m_objReceive;
    bool m_blnSendPending = false;

    AddressRace m_objRace; // connects the handle, trying a name's addresses in turn

    std::unique_ptr<SocketTls> m_objTls;
};
