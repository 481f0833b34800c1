#pragma once
// Asynchronous IPv4 socket object (TCP or UDP) that never blocks and reports
// to its owner through signals, connected directly and raised synchronously.
// An owner that drops the object from inside one of its signals must use
// deleteLater().
#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariant>
#include <type_traits>

// Data type codes of SendData, GetData and PeekData.
namespace SocketDataType {
enum : int {
    None = 0, // GetData/PeekData without a type: text
    Integer = 2,  // 16-bit signed
    Long = 3,     // 32-bit signed
    Double = 5,
    Currency = 6, // 64-bit signed, scaled by 10000
    Date = 7,     // OLE Automation date
    String = 8,   // one byte per character (Latin-1)
    Boolean = 11, // 16-bit, true is -1
    Byte = 17,
    ByteArray = 8209,
};
}

struct SocketCurrency {
    qint64 Scaled = 0; // value × 10000
    friend bool operator==(SocketCurrency a, SocketCurrency b) { return a.Scaled == b.Scaled; }
};
struct SocketDate {
    double Value = 0; // days since 30 December 1899, time as the fraction
    friend bool operator==(SocketDate a, SocketDate b) { return a.Value == b.Value; }
};
Q_DECLARE_METATYPE(SocketCurrency)
Q_DECLARE_METATYPE(SocketDate)

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

    // Reserved for the socket support module.
    void HandleNetworkEvent(int event, int error);
    void PostGetHostEvent(qint32 lookupHandle, quint32 address, const QString &hostName, int error);

signals:
    void OnClose();
    void OnConnect();
    void OnConnectionRequest(qint32 requestID);
    void OnDataArrival(qint32 bytesTotal);
    void OnError(qint16 Number, QString &Description, qint32 Scode, const QString &Source,
                 const QString &HelpFile, qint32 HelpContext, bool &CancelDisplay);
    void OnSendComplete();
    void OnSendProgress(qint32 bytesSent, qint32 bytesRemaining);

private:
    bool EnsureSocket();
    int CreateSocketHandle();
    void QueryReadSize();
    void ReleaseSocket();
    void ConnectTo(quint32 address, bool afterLookup);
    void RaiseError(int number, const QString &source);
    void ReadLocalAddress();

    void SendBytes(const QByteArray &bytes);
    void FlushSendBuffer();
    qint32 ReceiveIntoBuffer();
    bool TakeData(bool peek, int maxLen, QByteArray *taken);
    void TakeVariant(QVariant &varData, int varType, int maxLen, bool peek);
    qint32 ReceiveBufferLength() const { return qint32(m_bytReceive.size() - m_lngReceiveStart); }
    void ClearReceiveBuffer();

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

    // Both buffers consume from the front by moving a start offset, so a
    // long transfer costs no repeated copying of what is still queued.
    QByteArray m_bytSend;
    qsizetype m_lngSendStart = 0;
    QByteArray m_bytReceive;
    qsizetype m_lngReceiveStart = 0;
    bool m_blnSendPending = false;
};
