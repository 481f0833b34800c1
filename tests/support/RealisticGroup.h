#pragma once
// A news group as a busy server holds it, computed article by article
// without storing it, so that groups of 10^12 articles cost nothing.
//
// Articles arrive at a rate that drifts over the years and swings with the
// day and the week, with busy days, hours, minutes and seconds on top. The
// Date a poster wrote is mostly the second of arrival, but some posters'
// clocks or relays lag (or lead) by seconds to days, so dates are locally
// out of order. Runs of numbers are missing (cancelled or expired).
#include "support/NntpTestServer.h"

#include <QByteArray>
#include <QtGlobal>
#include <memory>
#include <vector>

namespace TestSupport
{

struct RealisticProfile {
    quint64 seed = 1;
    qint64 low = 1;
    qint64 high = 1000000;
    qint64 firstDay = 0; // seconds since 1970 UTC of the first day's midnight
    int days = 1000;     // articles arrive over this many whole days
    double drift = 0;    // the rate grows by e^drift from the first to the last day
    double weeklySwing = 0.2;
    double dailySwing = 0.5;
    int peakHour = 20;    // UTC hour of the daily peak
    double noise = 0.3;   // spread of the random factor of each day, hour, minute, second
    double bursts = 0.01; // share of days, hours and minutes that are bursts
    double lagging = 0.2; // share of articles whose Date is off the arrival
    double missing = 0.005; // share of numbers missing
    double meanMissingRun = 5;

    // A profile drawn from the seed: a span of 300 to 4000 days ending about
    // now, and everything else at random within realistic bounds.
    static RealisticProfile Random(quint64 seed, qint64 articles, qint64 now);
};

class RealisticGroup
{
  public:
    explicit RealisticGroup(const RealisticProfile &profile);

    const RealisticProfile &Profile() const { return m_p; }
    // The Date of article n (seconds since 1970 UTC).
    qint64 PostedAt(qint64 number) const;
    // The moment article n reached the server (seconds since 1970 UTC).
    qint64 ArrivedAt(qint64 number) const;
    bool IsMissing(qint64 number) const;

    // The group for NntpTestServer; it shares this group's state.
    NntpArticleGroup ForServer(const QByteArray &name) const;

  private:
    RealisticProfile m_p;
    std::shared_ptr<std::vector<long double>> m_dayStart; // running sum of day weights
};

} // namespace TestSupport
