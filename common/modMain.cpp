#include "common/modMain.h"

#include <utility>

namespace modMain {

QString GetStringBetween(const QString &text, qint32 &position, const QString &startMarker,
                         const QString &endMarker)
{
    // A start before the first character searches from the first; QString
    // would otherwise count a negative index from the end.
    const qsizetype from = position < 1 ? 0 : qsizetype(position) - 1;
    const qsizetype p = from > text.size() ? -1 : text.indexOf(startMarker, from);
    if (p < 0) {
        position = 1;
        return QString();
    }
    const qsizetype a = p + startMarker.size();
    const qsizetype b = text.indexOf(endMarker, a);
    // Positions are 32-bit; a text longer than that cannot report one.
    if (b < 0 || b >= qsizetype(INT32_MAX))
        return QString();
    position = qint32(b + 1);
    return text.mid(a, b - a);
}

int GetReplyCode(const QString &block)
{
    if (block.size() < 5)
        return 0;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        const QChar c = block.at(i);
        if (c < u'0' || c > u'9')
            return 0;
        code = code * 10 + (c.unicode() - u'0');
    }
    return code;
}

bool IsValidDate(qint64 year, int month, int day)
{
    static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= lengths[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Civil-date arithmetic over 400-year eras, exact for any year in range.
qint64 DaysFromCivil(qint64 year, int month, int day)
{
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yoe = year - era * 400;
    const qint64 doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

static void CivilFromDays(qint64 days, qint64 &year, int &month, int &day)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 doe = days - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = yoe + era * 400 + (month <= 2);
}

static qint64 FloorDiv(qint64 a, qint64 b)
{
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

QString FormatDateText(qint64 utcSeconds)
{
    const qint64 days = FloorDiv(utcSeconds, 86400);
    const qint64 secs = utcSeconds - days * 86400;
    qint64 year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    if (year < 1000 || year > 9999)
        return QString();
    const int h = int(secs / 3600), m = int(secs / 60 % 60), s = int(secs % 60);
    char out[20];
    const auto two = [&out](int at, int v) {
        out[at] = char('0' + v / 10);
        out[at + 1] = char('0' + v % 10);
    };
    two(0, day);
    out[2] = '/';
    two(3, month);
    out[5] = '/';
    two(6, int(year / 100));
    two(8, int(year % 100));
    out[10] = ' ';
    two(11, h);
    out[13] = ':';
    two(14, m);
    out[16] = ':';
    two(17, s);
    return QString::fromLatin1(out, 19);
}

bool ParseDateText(QStringView text, qint64 &utcSeconds)
{
    // "dd/mm/yyyy hh:mm:ss": digit positions and separators are fixed.
    static const char shape[] = "99/99/9999 99:99:99";
    if (text.size() != 19)
        return false;
    int digits[14];
    int n = 0;
    for (int i = 0; i < 19; ++i) {
        const char16_t c = text[i].unicode();
        if (shape[i] == '9') {
            if (c < u'0' || c > u'9')
                return false;
            digits[n++] = c - u'0';
        } else if (c != char16_t(shape[i])) {
            return false;
        }
    }
    const int day = digits[0] * 10 + digits[1];
    const int month = digits[2] * 10 + digits[3];
    const int year = digits[4] * 1000 + digits[5] * 100 + digits[6] * 10 + digits[7];
    const int h = digits[8] * 10 + digits[9];
    const int m = digits[10] * 10 + digits[11];
    const int s = digits[12] * 10 + digits[13];
    if (!IsValidDate(year, month, day) || h > 23 || m > 59 || s > 59)
        return false;
    utcSeconds = DaysFromCivil(year, month, day) * 86400 + h * 3600 + m * 60 + s;
    return true;
}

static std::function<QDateTime()> &PresentMomentSourceSlot()
{
    static std::function<QDateTime()> source;
    return source;
}

void SetPresentMomentSource(std::function<QDateTime()> source)
{
    PresentMomentSourceSlot() = std::move(source);
}

QDateTime PresentMoment()
{
    const auto &source = PresentMomentSourceSlot();
    return source ? source() : QDateTime::currentDateTimeUtc();
}

double AgeInDays(const QString &dateText)
{
    if (dateText.isEmpty())
        return 0;
    return AgeInDays(dateText, PresentMoment());
}

double AgeInDays(const QString &dateText, const QDateTime &presentMoment)
{
    qint64 then = 0;
    if (dateText.isEmpty() || !ParseDateText(dateText, then) || !presentMoment.isValid())
        return 0;
    // The date text is UTC, so the present moment must be too.
    const qint64 now = presentMoment.toSecsSinceEpoch();
    const qint64 hours = FloorDiv(now, 3600) - FloorDiv(then, 3600);
    // Tenths of a day are hours * 10 / 24 = hours * 5 / 12; rounded in
    // integers so that a half goes to the even tenth without any binary
    // floating-point error tipping it.
    const qint64 num = hours * 5;
    qint64 tenths = FloorDiv(num, 12);
    const qint64 rest = num - tenths * 12; // 0..11
    if (rest > 6 || (rest == 6 && (tenths & 1)))
        ++tenths;
    return double(tenths) / 10.0;
}

} // namespace modMain
