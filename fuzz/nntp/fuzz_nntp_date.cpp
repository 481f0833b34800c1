// Date header values: either unreadable (empty) or a real date in the
// fixed form that reads back to the same text.
#include "common/modMain.h"
#include "nntp/modNNTP.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString value = QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString date = modNNTP::ConvertNNTPDate(value);
    if (date.isEmpty())
        return 0;
    qint64 seconds = 0;
    if (!modMain::ParseDateText(date, seconds) || modMain::FormatDateText(seconds) != date)
        std::abort();
    static const QDateTime present(QDate(2005, 1, 10), QTime(12, 0), QTimeZone::utc());
    const double age = modMain::AgeInDays(date, present);
    if (age != age) // NaN
        std::abort();
    return 0;
}
