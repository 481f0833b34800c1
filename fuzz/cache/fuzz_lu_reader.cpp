// The lu reader of old group cache files against a plain line-by-line
// reading of the same bytes, with the bytes cut into pieces wherever the
// input says, as reads of a large file cut them.
//
// Input: one byte that chooses the piece lengths, then the file's bytes.
#include "cache/modNBZ.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <cstdlib>

namespace
{

const QByteArray kDefault("923444937");

bool IsNumber(const QByteArray &text)
{
    qsizetype i = text.startsWith('+') || text.startsWith('-') ? 1 : 0;
    int digits = 0;
    int points = 0;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9')
            ++digits;
        else if (text[i] == '.')
            ++points;
        else
            return false;
    }
    return digits > 0 && points <= 1;
}

QByteArray Trimmed(QByteArray text)
{
    while (text.startsWith(' '))
        text.remove(0, 1);
    while (text.endsWith(' '))
        text.chop(1);
    return text;
}

// Lines end at CR or at CR LF; the first line holding a key decides; a
// line longer than 4096 bytes holds no usable value.
QByteArray Reference(const QByteArray &file)
{
    qsizetype start = 0;
    while (start < file.size()) {
        qsizetype end = file.indexOf('\r', start);
        const qsizetype next = end < 0 ? file.size() : end + 1 + (file.mid(end + 1, 1) == "\n");
        if (end < 0)
            end = file.size();
        const QByteArray line = file.mid(start, end - start);
        start = next;
        qsizetype from = -1;
        if (line.contains("lu  ="))
            from = 5;
        else if (line.contains("lu="))
            from = 3;
        if (from < 0)
            continue;
        const QByteArray value = Trimmed(line.mid(from));
        return line.size() <= 4096 && IsNumber(value) ? value : kDefault;
    }
    return kDefault;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray file(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    // Piece lengths from 1 to 64 bytes, repeating, or the whole file at once.
    const unsigned choice = data[0];
    QList<QByteArrayView> pieces;
    if (choice == 0) {
        pieces.append(file);
    } else {
        qsizetype at = 0;
        for (unsigned k = 0; at < file.size(); ++k) {
            const qsizetype length = 1 + (choice * (k + 1) * 2654435761u >> 7) % 64;
            pieces.append(QByteArrayView(file).sliced(at, std::min(length, file.size() - at)));
            at += length;
        }
    }
    if (modNBZ::LuValueOf(pieces).toLatin1() != Reference(file))
        std::abort();
    return 0;
}
