// Marker extraction over any text, markers and start position.
#include "common/modMain.h"

#include <QString>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    // Layout: 4 bytes of position, then start marker, NUL, end marker, NUL, text.
    qint32 position = 0;
    std::memcpy(&position, data, 4);
    const QByteArray rest(reinterpret_cast<const char *>(data) + 4, qsizetype(size - 4));
    const QList<QByteArray> parts = rest.split('\0');
    if (parts.size() < 3)
        return 0;
    const QString start = QString::fromLatin1(parts[0]);
    const QString end = QString::fromLatin1(parts[1]);
    const QString text = QString::fromLatin1(rest.mid(parts[0].size() + parts[1].size() + 2));

    const qint32 before = position;
    const QString between = modMain::GetStringBetween(text, position, start, end);
    // An empty end marker matches just past the start marker, which may be
    // one past the last character.
    if (position != before && position != 1 && (position < 1 || position > text.size() + 1))
        std::abort();
    if (!between.isEmpty() && !text.contains(between))
        std::abort();
    return 0;
}
