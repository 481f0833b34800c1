#include "net/SocketData.h"

#include <algorithm>
#include <cstring>

namespace SocketData {

namespace {

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

} // namespace

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

} // namespace SocketData
