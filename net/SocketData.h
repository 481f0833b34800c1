#pragma once
// The typed values a socket sends and takes, and their bytes on the wire:
// fixed widths, least significant byte first, text one byte a character.
#include <QByteArray>
#include <QMetaType>
#include <QVariant>
#include <QtGlobal>

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

namespace SocketData {

// The value's type picks the encoding: QString, QByteArray, qint16, qint32,
// double, SocketCurrency, SocketDate, bool, quint8. Any other type gives
// no bytes.
QByteArray ToBytes(const QVariant &value);
// Bytes taken from the socket as a value of the type code; bytes missing
// for the full width count as 0. Invalid for a code without a conversion.
QVariant FromBytes(const QByteArray &bytes, int varType);

} // namespace SocketData
