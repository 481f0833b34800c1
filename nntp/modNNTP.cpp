#include "nntp/modNNTP.h"

#include "common/modMain.h"

#include <array>

namespace modNNTP {

namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }
bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// An ASCII word equal, ignoring letter case, to one of names; returns its
// index or -1.
template <std::size_t N>
int Lookup(QStringView word, const std::array<const char *, N> &names)
{
    for (std::size_t k = 0; k < N; ++k) {
        const char *name = names[k];
        qsizetype i = 0;
        while (i < word.size() && name[i] != '\0' && Lower(word[i].unicode()) == char16_t(name[i]))
            ++i;
        if (i == word.size() && name[i] == '\0')
            return int(k);
    }
    return -1;
}

const std::array<const char *, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                               "jul", "aug", "sep", "oct", "nov", "dec"};
const std::array<const char *, 12> kMonthNames = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};
const std::array<const char *, 14> kDays = {"mon",     "tue",      "wed",     "thu",
                                            "fri",     "sat",      "sun",     "monday",
                                            "tuesday", "wednesday", "thursday", "friday",
                                            "saturday", "sunday"};
// Obsolete zone names and their offsets in hours; any other name counts as 0.
const std::array<const char *, 11> kZones = {"ut",  "gmt", "z",   "est", "edt", "cst",
                                             "cdt", "mst", "mdt", "pst", "pdt"};
const std::array<int, 11> kZoneHours = {0, 0, 0, -5, -4, -6, -5, -7, -6, -8, -7};

// Reads a date value left to right; every step moves forward, so the work
// is linear in the value's length whatever it holds.
class Cursor
{
public:
    explicit Cursor(QStringView text) : m_text(text) {}

    char16_t Peek() const { return m_at < m_text.size() ? m_text[m_at].unicode() : u'\0'; }
    void Next() { ++m_at; }

    // Blanks and comments; comments nest and may hold quoted pairs. An
    // unclosed comment runs to the end of the value.
    void SkipCFWS()
    {
        while (m_at < m_text.size()) {
            const char16_t c = m_text[m_at].unicode();
            if (IsBlank(c)) {
                ++m_at;
            } else if (c == u'(') {
                int depth = 0;
                while (m_at < m_text.size()) {
                    const char16_t d = m_text[m_at++].unicode();
                    if (d == u'\\')
                        ++m_at;
                    else if (d == u'(')
                        ++depth;
                    else if (d == u')' && --depth == 0)
                        break;
                }
            } else {
                break;
            }
        }
        if (m_at > m_text.size())
            m_at = m_text.size();
    }

    // A run of digits: returns how many, and their value (capped, so that a
    // long run cannot overflow; callers reject long runs by their count).
    int Digits(qint64 &value)
    {
        int count = 0;
        value = 0;
        while (IsDigit(Peek())) {
            if (count < 12)
                value = value * 10 + (Peek() - u'0');
            ++count;
            Next();
        }
        return count;
    }

    QStringView Word()
    {
        const qsizetype start = m_at;
        while (IsAlpha(Peek()))
            Next();
        return m_text.mid(start, m_at - start);
    }

private:
    QStringView m_text;
    qsizetype m_at = 0;
};

// Zone offset east of UTC in minutes; a zone that cannot be read counts as 0.
int ReadZone(Cursor &c)
{
    const char16_t first = c.Peek();
    if (first == u'+' || first == u'-') {
        c.Next();
        qint64 v = 0;
        const int n = c.Digits(v);
        qint64 hours = 0, minutes = 0;
        if (n == 4) {
            hours = v / 100;
            minutes = v % 100;
        } else if (n == 2) {
            hours = v;
            if (c.Peek() == u':') {
                c.Next();
                qint64 m = 0;
                if (c.Digits(m) == 2)
                    minutes = m;
            }
        } else {
            return 0;
        }
        if (minutes > 59)
            return 0;
        const int offset = int(hours * 60 + minutes);
        return first == u'-' ? -offset : offset;
    }
    if (IsAlpha(first)) {
        const int k = Lookup(c.Word(), kZones);
        return k < 0 ? 0 : kZoneHours[std::size_t(k)] * 60;
    }
    return 0;
}

} // namespace

QString ConvertNNTPDate(const QString &value)
{
    Cursor c(value);
    c.SkipCFWS();
    if (IsAlpha(c.Peek())) {
        // A weekday in another language still ends in the comma; a word
        // that is neither is the start of some other date form.
        const bool known = Lookup(c.Word(), kDays) >= 0;
        c.SkipCFWS();
        if (c.Peek() == u',')
            c.Next();
        else if (!known)
            return QString();
        c.SkipCFWS();
    }

    qint64 day = 0;
    const int dayDigits = c.Digits(day);
    if (dayDigits < 1 || dayDigits > 2)
        return QString();
    c.SkipCFWS();

    const QStringView monthWord = c.Word();
    int month = Lookup(monthWord, kMonths);
    if (month < 0)
        month = Lookup(monthWord, kMonthNames);
    if (month < 0)
        return QString();
    ++month;
    c.SkipCFWS();

    qint64 year = 0;
    const int yearDigits = c.Digits(year);
    if (yearDigits == 2)
        year += year < 50 ? 2000 : 1900;
    else if (yearDigits == 3)
        year += 1900;
    else if (yearDigits < 2 || yearDigits > 9 || year < 1000 || year > 9999)
        return QString();
    c.SkipCFWS();

    qint64 hour = 0, minute = 0, second = 0;
    const int hourDigits = c.Digits(hour);
    if (hourDigits < 1 || hourDigits > 2)
        return QString();
    c.SkipCFWS();
    if (c.Peek() != u':')
        return QString();
    c.Next();
    c.SkipCFWS();
    if (c.Digits(minute) != 2)
        return QString();
    c.SkipCFWS();
    if (c.Peek() == u':') {
        c.Next();
        c.SkipCFWS();
        if (c.Digits(second) != 2)
            return QString();
        c.SkipCFWS();
    }
    // A leap second (60) is allowed and rolls into the next minute.
    if (hour > 23 || minute > 59 || second > 60)
        return QString();
    if (!modMain::IsValidDate(year, month, int(day)))
        return QString();

    const int zoneMinutes = ReadZone(c);
    // Whatever follows the zone (a comment, a repeated zone name) is ignored.

    const qint64 local = modMain::DaysFromCivil(year, month, int(day)) * 86400 + hour * 3600
                         + minute * 60 + second;
    return modMain::FormatDateText(local - qint64(zoneMinutes) * 60);
}

namespace {

enum Field { None = -1, FromField, SubjectField, DateField, MessageIdField, FieldCount };

const std::array<const char *, FieldCount> kFieldNames = {"from", "subject", "date",
                                                          "message-id"};

QStringView TrimLeftBlanks(QStringView s)
{
    qsizetype i = 0;
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t'))
        ++i;
    return s.mid(i);
}

QStringView TrimRightBlanks(QStringView s)
{
    qsizetype n = s.size();
    while (n > 0 && (s[n - 1] == u' ' || s[n - 1] == u'\t'))
        --n;
    return s.left(n);
}

// The text between the first '<' and the next '>' of s, when there is one.
bool AngleBracketed(QStringView s, QString &inside)
{
    const qsizetype open = s.indexOf(u'<');
    if (open < 0)
        return false;
    const qsizetype close = s.indexOf(u'>', open + 1);
    if (close < 0)
        return false;
    inside = s.mid(open + 1, close - open - 1).toString();
    return true;
}

} // namespace

ArticleHeader ParseArticleHeader(const QString &reply, double articleID)
{
    ArticleHeader record;
    record.ArticleID = articleID;
    if (modMain::GetReplyCode(reply) != 221)
        return record;

    const QStringView all(reply);
    std::array<QString, FieldCount> values;
    std::array<bool, FieldCount> seen{};
    Field current = None;
    QStringView statusLine;

    // One pass over the lines; a line ends at LF, a CR before it is dropped.
    qsizetype start = 0;
    bool first = true;
    while (start < all.size()) {
        qsizetype end = all.indexOf(u'\n', start);
        const qsizetype next = end < 0 ? all.size() : end + 1;
        if (end < 0)
            end = all.size();
        QStringView line = all.mid(start, end - start);
        if (line.endsWith(u'\r'))
            line.chop(1);
        start = next;

        if (first) {
            statusLine = line;
            first = false;
            continue;
        }
        if (line.isEmpty() || line == u".")
            break;
        if (line[0] == u' ' || line[0] == u'\t') {
            // A folded line continues the header above it; unfolding drops
            // only the line break.
            if (current != None)
                values[current] += line;
            continue;
        }
        current = None;
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        const int k = Lookup(TrimRightBlanks(line.left(colon)), kFieldNames);
        if (k >= 0 && !seen[std::size_t(k)]) {
            seen[std::size_t(k)] = true;
            current = Field(k);
            values[current] = line.mid(colon + 1).toString();
        }
    }

    const QString from = TrimLeftBlanks(values[FromField]).toString();
    if (!from.isEmpty()) {
        qint32 position = 1;
        record.from = modMain::GetStringBetween(from, position, QStringLiteral("("),
                                                QStringLiteral(")"));
    }
    record.Subject = TrimLeftBlanks(values[SubjectField]).toString();
    record.PostDate = ConvertNNTPDate(values[DateField]);
    // The status line carries the id of the article the server answered
    // for; the Message-ID header stands in when a server leaves it out.
    if (!AngleBracketed(statusLine, record.MessageID))
        AngleBracketed(values[MessageIdField], record.MessageID);
    return record;
}

namespace {

// The owner receives article numbers as doubles and writes HEAD lines from
// them; above 2^53 - 1 a double no longer holds every whole number, and the
// search would ask for articles other than the ones it means.
constexpr qint64 MaxArticleNumber = (qint64(1) << 53) - 1;

// An article number as a GROUP reply writes it: 1 to 16 digits, at most
// MaxArticleNumber.
bool ReadArticleNumber(QStringView text, qint64 &value)
{
    if (text.isEmpty() || text.size() > 16)
        return false;
    qint64 v = 0;
    for (QChar c : text) {
        if (!IsDigit(c.unicode()))
            return false;
        v = v * 10 + (c.unicode() - u'0');
    }
    if (v > MaxArticleNumber)
        return false;
    value = v;
    return true;
}

} // namespace

GroupRange ParseGroupReply(QStringView r)
{
    // The numbers stand between the second, third and fourth spaces.
    qint64 first = 0, last = 0;
    const qsizetype s1 = r.indexOf(u' ');
    const qsizetype s2 = s1 < 0 ? -1 : r.indexOf(u' ', s1 + 1);
    const qsizetype s3 = s2 < 0 ? -1 : r.indexOf(u' ', s2 + 1);
    qint64 count = -1;
    if (s2 >= 0)
        ReadArticleNumber(r.mid(s1 + 1, s2 - s1 - 1), count);
    if (s3 >= 0 && ReadArticleNumber(r.mid(s2 + 1, s3 - s2 - 1), first) && first > 0) {
        const qsizetype s4 = r.indexOf(u' ', s3 + 1);
        if (s4 >= 0 && !ReadArticleNumber(r.mid(s3 + 1, s4 - s3 - 1), last))
            last = 0;
    }
    // A group that holds no articles: count 0, or a high mark below the
    // low one, however the numbers are written.
    if (count == 0 || last < first)
        first = last = 0;
    return {first, last};
}

QStringList ParseGroupList(QStringView r)
{
    QStringList groups;
    qsizetype lineStart = r.indexOf(u"\r\n") + 2; // past the status line
    while (lineStart > 1 && lineStart < r.size()) {
        const qsizetype lineEnd = r.indexOf(u"\r\n", lineStart);
        if (lineEnd < 0)
            break;
        const QStringView line = r.mid(lineStart, lineEnd - lineStart);
        const qsizetype space = line.indexOf(u' ');
        const QStringView word = space < 0 ? line : line.left(space);
        if (word.size() >= 3 && word.contains(u'.'))
            groups << word.toString();
        lineStart = lineEnd + 2;
    }
    return groups;
}

} // namespace modNNTP
