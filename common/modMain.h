#pragma once
// Small text and time helpers shared by the NNTP client and the reset run.
#include <QDateTime>
#include <QString>
#include <functional>

namespace modMain {

// Returns the text between startMarker and the next endMarker, searching
// from the 1-based index in position (case-sensitive).
// Start marker missing: empty text, position becomes 1.
// End marker missing: empty text, position unchanged.
// Both found: position becomes the 1-based index of the end marker.
QString GetStringBetween(const QString &text, qint32 &position, const QString &startMarker,
                         const QString &endMarker);

// The reply code of a block received from an NNTP server: its first three
// characters as a number, or 0 when the block is shorter than 5 characters
// or does not start with three digits.
int GetReplyCode(const QString &block);

// Age in days, to one decimal (a half going to the even digit), of a UTC
// date text "dd/mm/yyyy hh:mm:ss", counted in whole-hour boundaries passed
// up to the present moment. Empty or unreadable text gives 0; a date in a
// later hour than the present gives a negative age.
double AgeInDays(const QString &dateText);
double AgeInDays(const QString &dateText, const QDateTime &presentMoment);

// The fixed date text "dd/mm/yyyy hh:mm:ss" (UTC) both ways, over seconds
// since 1970-01-01 00:00:00 UTC. Formatting fails (empty text) outside the
// years 1000 to 9999; parsing accepts exactly that form of a real date.
QString FormatDateText(qint64 utcSeconds);
bool ParseDateText(QStringView text, qint64 &utcSeconds);

// Days since 1970-01-01 of a proleptic Gregorian date; the caller checks
// that the date exists (IsValidDate).
qint64 DaysFromCivil(qint64 year, int month, int day);
bool IsValidDate(qint64 year, int month, int day);

// Where AgeInDays(dateText) takes the present moment from; tests supply a
// fixed moment. An empty function restores the system clock.
void SetPresentMomentSource(std::function<QDateTime()> source);
QDateTime PresentMoment();

} // namespace modMain
