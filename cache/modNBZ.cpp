#include "cache/modNBZ.h"

#include "cache/modFile.h"

#include <QFile>

#include <array>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>
#include <optional>
#include <vector>

namespace modNBZ
{
namespace
{

const QByteArray kDefaultLu = QByteArrayLiteral("923444937");
constexpr qsizetype kTemplateSize = 68;
constexpr double kLargestPointer = 9007199254740992.0; // 2^53

// Old cache files are read in chunks of this size, so memory stays flat
// however large the file is.
constexpr qint64 kReadChunk = 1 << 20;

// Only this much of a line is kept. A value longer than that cannot be a
// real lu value; it is treated like any other value that is not a number.
constexpr qint64 kKeptLine = 4096;

const QByteArray &Template()
{
    static const QByteArray bytes = [] {
        QFile file(QStringLiteral(":/GroupCacheTemplate.bin"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    return bytes;
}

// The last CR of the bytes, or null. Lines are short, so the search from
// the end stops after a few bytes.
const char *LastCR(const char *p, qint64 n)
{
    while (n > 0) {
        if (p[--n] == '\r')
            return p + n;
    }
    return nullptr;
}

// Finds the lu value in a stream of bytes without holding more than one
// short piece of a line. A line ends at CR or at a CR LF pair. The first
// line that holds "lu  =" (value from its 6th character) or "lu=" (value
// from its 4th) decides; "lu  =" wins when a line holds both.
class LuScanner
{
  public:
    // Returns true once a line holding a key has ended: the rest of the
    // stream no longer matters.
    bool Feed(const char *data, qint64 len)
    {
        qint64 pos = 0;
        if (m_afterCR && len > 0) {
            m_afterCR = false;
            if (data[0] == '\n')
                pos = 1;
        }
        if (!m_long && !m_short) {
            // Most pieces hold no key at all: skip their whole lines at once
            // and go line by line only from the line that holds the first key.
            const qint64 key = FirstKey(data + pos, len - pos);
            const qint64 searchEnd = key < 0 ? len : pos + key;
            const char *cr = LastCR(data + pos, searchEnd - pos);
            if (cr) {
                EndLine(nullptr, 0);
                pos = cr - data + 1;
                if (pos == len) {
                    m_afterCR = true;
                    return false;
                }
                if (data[pos] == '\n')
                    ++pos;
            }
            if (key < 0) {
                KeepWithTail(data + pos, len - pos);
                return false;
            }
        }
        while (pos < len) {
            const auto *cr = static_cast<const char *>(std::memchr(data + pos, '\r', len - pos));
            if (!cr) {
                Carry(data + pos, len - pos);
                return false;
            }
            const qint64 end = cr - data;
            if (EndLine(data + pos, end - pos))
                return true;
            pos = end + 1;
            if (pos == len)
                m_afterCR = true;
            else if (data[pos] == '\n')
                ++pos;
        }
        return false;
    }

    // The last line of a file may lack its line end.
    void Finish()
    {
        if (m_lineLen > 0)
            EndLine(nullptr, 0);
    }

    // The line's text from the key's fixed position on; nothing when no
    // line held a key or the line was too long to keep.
    std::optional<QByteArray> Value() const { return m_value; }

  private:
    enum Key { NoKey, ShortKey, LongKey };

    // Which key, if any, ends with the "=" at p[j]; the bytes before it come
    // from this piece or from the end of the line's earlier pieces.
    Key KeyEndingAt(const char *p, qint64 j) const
    {
        auto before = [&](qint64 d) -> int {
            const qint64 i = j - d;
            if (i >= 0)
                return static_cast<unsigned char>(p[i]);
            const qint64 t = m_tailLen + i;
            return t >= 0 ? static_cast<unsigned char>(m_tail[t]) : -1;
        };
        if (before(2) == 'l' && before(1) == 'u')
            return ShortKey;
        if (before(4) == 'l' && before(3) == 'u' && before(2) == ' ' && before(1) == ' ')
            return LongKey;
        return NoKey;
    }

    // Offset of the "=" of the first key in the piece, or -1. The search
    // for "=" goes 32 bytes at a time; this loop is what bounds the speed
    // on a large file.
    qint64 FirstKey(const char *p, qint64 n) const
    {
        qint64 i = 0;
#if defined(__SSE2__)
        const __m128i equals = _mm_set1_epi8('=');
        for (; i + 32 <= n; i += 32) {
            const auto *block = reinterpret_cast<const __m128i *>(p + i);
            const unsigned low = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(block), equals));
            const unsigned high =
                _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(block + 1), equals));
            for (unsigned mask = low | (high << 16); mask != 0; mask &= mask - 1) {
                const qint64 j = i + __builtin_ctz(mask);
                if (KeyEndingAt(p, j) != NoKey)
                    return j;
            }
        }
#endif
        for (; i < n; ++i) {
            if (p[i] == '=' && KeyEndingAt(p, i) != NoKey)
                return i;
        }
        return -1;
    }

    // Notes the keys in a piece of the current line.
    void Scan(const char *p, qint64 n)
    {
        const char *from = p;
        const char *const end = p + n;
        while (!m_long && from < end) {
            const auto *eq = static_cast<const char *>(std::memchr(from, '=', end - from));
            if (!eq)
                return;
            const Key key = KeyEndingAt(p, eq - p);
            m_short = m_short || key == ShortKey;
            m_long = key == LongKey;
            from = eq + 1;
        }
    }

    void Keep(const char *p, qint64 n)
    {
        const qint64 room = kKeptLine - m_keptLen;
        if (n > 0 && room > 0) {
            const qint64 take = std::min(n, room);
            std::memcpy(m_kept.data() + m_keptLen, p, take);
            m_keptLen += take;
        }
        m_lineLen += n;
    }

    // A piece of a line that goes on in the next chunk.
    void Carry(const char *p, qint64 n)
    {
        Scan(p, n);
        KeepWithTail(p, n);
    }

    void KeepWithTail(const char *p, qint64 n)
    {
        Keep(p, n);
        if (n >= 4) {
            std::memcpy(m_tail.data(), p + n - 4, 4);
            m_tailLen = 4;
        } else {
            for (qint64 i = 0; i < n; ++i) {
                if (m_tailLen == 4) {
                    std::memmove(m_tail.data(), m_tail.data() + 1, 3);
                    m_tailLen = 3;
                }
                m_tail[m_tailLen++] = p[i];
            }
        }
    }

    bool EndLine(const char *p, qint64 n)
    {
        Scan(p, n);
        const bool matched = m_long || m_short;
        if (matched) {
            Keep(p, n);
            const qint64 offset = m_long ? 5 : 3;
            if (m_lineLen <= kKeptLine)
                m_value =
                    QByteArray(m_kept.data() + offset, std::max<qint64>(0, m_keptLen - offset));
        }
        m_keptLen = m_lineLen = 0;
        m_tailLen = 0;
        m_long = m_short = false;
        return matched;
    }

    std::array<char, kKeptLine> m_kept{};
    qint64 m_keptLen = 0;
    qint64 m_lineLen = 0;
    std::array<char, 4> m_tail{};
    qint64 m_tailLen = 0;
    bool m_long = false;
    bool m_short = false;
    bool m_afterCR = false;
    std::optional<QByteArray> m_value;
};

QByteArray TrimSpaces(const QByteArray &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == ' ')
        ++first;
    while (last > first && text[last - 1] == ' ')
        --last;
    return text.mid(first, last - first);
}

// Digits with an optional sign and decimal part.
bool IsNumber(const QByteArray &text)
{
    qsizetype i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    qsizetype digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits > 0;
}

// A text goes into the file one byte per character; a line end or a zero
// byte inside it would break the file's line structure.
std::optional<QByteArray> LineText(const QString &text)
{
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c > 0xFF || c == '\r' || c == '\n' || c == 0)
            return std::nullopt;
    }
    return text.toLatin1();
}

// The value the scanner settled on when it is a number, else the default.
QString LuValueFound(const LuScanner &scanner)
{
    if (const auto found = scanner.Value()) {
        const QByteArray lu = TrimSpaces(*found);
        if (IsNumber(lu))
            return QString::fromLatin1(lu);
    }
    return QString::fromLatin1(kDefaultLu);
}

} // namespace

QString GroupNameFromPath(const QString &path)
{
    if (!path.endsWith(QLatin1String(".nc1"), Qt::CaseInsensitive))
        return QString();
    const QString name = modFile::FileNameOfPath(path);
    return name.left(name.size() - 4);
}

bool ReadLuValue(const QString &path, QString &value)
{
    value = QString::fromLatin1(kDefaultLu);
    if (!modFile::FileExists(path))
        return true;
    QFile file(modFile::FileSystemPath(path));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    modFile::AdviseSequentialReading(file);
    LuScanner scanner;
    std::vector<char> buffer(kReadChunk);
    for (;;) {
        const qint64 got = file.read(buffer.data(), kReadChunk);
        if (got < 0)
            return false;
        if (got == 0) {
            scanner.Finish();
            break;
        }
        if (scanner.Feed(buffer.data(), got))
            break;
    }
    value = LuValueFound(scanner);
    return true;
}

QString LuValueOf(const QList<QByteArrayView> &pieces)
{
    LuScanner scanner;
    for (const QByteArrayView piece : pieces) {
        if (scanner.Feed(piece.data(), piece.size()))
            return LuValueFound(scanner);
    }
    scanner.Finish();
    return LuValueFound(scanner);
}

QByteArray BuildGroupCacheFile(const QString &lu, const QString &serverName, double pointer)
{
    const QByteArray &tmpl = Template();
    const auto luText = LineText(lu);
    const auto server = LineText(serverName);
    if (tmpl.size() != kTemplateSize || !luText || !server)
        return QByteArray();
    if (!std::isfinite(pointer) || pointer < 0 || pointer > kLargestPointer)
        return QByteArray();
    const QByteArray pointerText = QByteArray::number(static_cast<qint64>(std::llround(pointer)));

    // One pass over the template: a value is never searched for placeholders
    // itself, so a server name holding "#LOCALPOINTER#" stays as it is.
    const std::array<std::pair<QByteArrayView, QByteArrayView>, 3> placeholders{{
        {"#LU#", *luText},
        {"#NNTPSERVER#", *server},
        {"#LOCALPOINTER#", pointerText},
    }};
    QByteArray body;
    body.reserve(tmpl.size() + luText->size() + server->size() + pointerText.size());
    for (qsizetype i = 0; i < tmpl.size();) {
        bool replaced = false;
        for (const auto &[name, text] : placeholders) {
            if (QByteArrayView(tmpl).sliced(i).startsWith(name)) {
                body += text;
                i += name.size();
                replaced = true;
                break;
            }
        }
        if (!replaced)
            body += tmpl[i++];
    }

    // Each product of position and byte is reduced to a signed 16-bit value
    // before it is added, as the newsreader checks it.
    qint64 checksum = 0;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const qint64 product = static_cast<qint64>(i + 1) * static_cast<unsigned char>(body[i]);
        checksum += static_cast<qint16>(static_cast<quint16>(product & 0xFFFF));
    }
    return QByteArray::number(checksum) + '\r' + body;
}

qint16 WriteGroupCacheFile(const QString &path, const QString &serverName, double pointer)
{
    // Refuse values that cannot be written before touching anything.
    if (BuildGroupCacheFile(QString::fromLatin1(kDefaultLu), serverName, pointer).isEmpty())
        return 0;
    QString lu;
    if (!ReadLuValue(path, lu))
        return 0;
    const QByteArray content = BuildGroupCacheFile(lu, serverName, pointer);
    if (content.isEmpty())
        return 0;
    const bool written = modFile::ReplaceFileSafely(path, [&content](QFile &file) {
        return modFile::WriteAll(file, content.constData(), content.size());
    });
    return written ? 1 : 0;
}

} // namespace modNBZ
