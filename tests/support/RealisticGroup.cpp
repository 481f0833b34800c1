#include "support/RealisticGroup.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace TestSupport
{

namespace
{

constexpr long double kPi = 3.14159265358979323846L;
constexpr qint64 kMissingBlock = 4096;
constexpr qint64 kLongestMissingRun = 400;

quint64 Mix(quint64 x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

quint64 Hash(quint64 seed, quint64 a, quint64 b = 0, quint64 c = 0, quint64 d = 0)
{
    return Mix(Mix(Mix(Mix(Mix(seed) ^ a) ^ b) ^ c) ^ d);
}

// Uniform in [0, 1).
double Unit(quint64 h)
{
    return double(h >> 11) * 0x1.0p-53;
}

// A factor around 1: lognormal with the given spread, and now and then a
// burst of 5 to 30 times the usual rate.
double Factor(quint64 h, double spread, double bursts)
{
    const double g = (Unit(Mix(h ^ 1)) + Unit(Mix(h ^ 2)) + Unit(Mix(h ^ 3)) - 1.5) * 2;
    double f = std::exp(spread * g);
    if (Unit(Mix(h ^ 4)) < bursts)
        f *= 5 + 25 * Unit(Mix(h ^ 5));
    return f;
}

// Picks the slot of `weights` that the fraction falls in and turns the
// fraction into the share of that slot; `count` goes from the articles of
// the whole to those of the slot.
template <size_t N>
int Slot(const std::array<double, N> &weights, long double &fraction, long double &count)
{
    long double total = 0;
    for (double w : weights)
        total += w;
    long double at = fraction * total;
    for (size_t i = 0; i + 1 < N; ++i) {
        if (at < weights[i]) {
            fraction = at / weights[i];
            count *= weights[i] / total;
            return int(i);
        }
        at -= weights[i];
    }
    fraction = std::min(at / weights[N - 1], 0.999999L);
    count *= weights[N - 1] / total;
    return int(N - 1);
}

} // namespace

RealisticProfile RealisticProfile::Random(quint64 seed, qint64 articles, qint64 now)
{
    auto u = [seed](int k) { return Unit(Hash(seed, 0x5eed, quint64(k))); };
    RealisticProfile p;
    p.seed = seed;
    p.low = 1 + qint64(u(1) * 1000);
    p.high = p.low + articles - 1;
    p.days = int(std::exp(std::log(300.0) + u(2) * std::log(4000.0 / 300.0)));
    // The newest articles arrived in the last day or so.
    p.firstDay = (now / 86400 + 1 - p.days) * 86400 - qint64(u(3) * 86400);
    p.drift = -1.5 + 3 * u(4);
    p.weeklySwing = 0.5 * u(5);
    p.dailySwing = 0.8 * u(6);
    p.peakHour = int(u(7) * 24);
    p.noise = 0.05 + 0.15 * u(8);
    p.bursts = 0.02 * u(9);
    p.lagging = 0.3 * u(10);
    p.missing = 0.02 * u(11);
    p.meanMissingRun = 1 + 19 * u(12);
    return p;
}

RealisticGroup::RealisticGroup(const RealisticProfile &profile)
    : m_p(profile), m_dayStart(std::make_shared<std::vector<long double>>())
{
    auto &start = *m_dayStart;
    start.reserve(size_t(m_p.days) + 1);
    start.push_back(0);
    for (int d = 0; d < m_p.days; ++d) {
        const qint64 weekday = (m_p.firstDay / 86400 + d + 4) % 7; // 0: Sunday
        const double weekly = 1 + m_p.weeklySwing * std::cos(2 * double(kPi) * double(weekday) / 7);
        const double trend = std::exp(m_p.drift * d / std::max(1, m_p.days - 1));
        start.push_back(start.back() +
                        trend * weekly * Factor(Hash(m_p.seed, 'd', quint64(d)), m_p.noise, m_p.bursts));
    }
}

qint64 RealisticGroup::ArrivedAt(qint64 number) const
{
    const auto &start = *m_dayStart;
    const long double articles = (long double)(m_p.high - m_p.low + 1);
    // The middle of article n's share of the arrivals.
    const long double at =
        ((long double)(number - m_p.low) + 0.5L) / articles * start.back();
    const int day = int(std::upper_bound(start.begin(), start.end(), at) - start.begin()) - 1;
    const int d = std::clamp(day, 0, m_p.days - 1);
    long double fraction = std::clamp((at - start[size_t(d)]) / (start[size_t(d) + 1] - start[size_t(d)]),
                                      0.0L, 0.999999L);

    long double expected = articles * (start[size_t(d) + 1] - start[size_t(d)]) / start.back();
    std::array<double, 24> hours;
    for (int h = 0; h < 24; ++h)
        hours[size_t(h)] =
            (1 + m_p.dailySwing * std::cos(2 * double(kPi) * (h - m_p.peakHour) / 24)) *
            Factor(Hash(m_p.seed, 'h', quint64(d), quint64(h)), m_p.noise, m_p.bursts);
    const int hour = Slot(hours, fraction, expected);
    std::array<double, 60> minutes;
    for (int m = 0; m < 60; ++m)
        minutes[size_t(m)] =
            Factor(Hash(m_p.seed, 'm', quint64(d), quint64(hour), quint64(m)), m_p.noise, m_p.bursts);
    const int minute = Slot(minutes, fraction, expected);
    // Within a minute arrivals scatter as independent posters do: the fewer
    // per second, the more uneven the seconds.
    const double spread = double(1 / std::sqrt(std::max(expected / 60, 1.0L)));
    std::array<double, 60> seconds;
    for (int s = 0; s < 60; ++s)
        seconds[size_t(s)] =
            Factor(Hash(m_p.seed, 's', quint64(d) * 1440 + quint64(hour * 60 + minute), quint64(s)),
                   spread, 0);
    const int second = Slot(seconds, fraction, expected);
    return m_p.firstDay + qint64(d) * 86400 + hour * 3600 + minute * 60 + second;
}

qint64 RealisticGroup::PostedAt(qint64 number) const
{
    const qint64 arrived = ArrivedAt(number);
    const quint64 h = Hash(m_p.seed, 'l', quint64(number));
    if (Unit(h) >= m_p.lagging)
        return arrived;
    // Most lags are seconds, some minutes; a few are an hour or a day. One
    // in seven clocks runs ahead instead.
    const double kind = Unit(Mix(h ^ 1));
    const qint64 most = kind < 0.9 ? 10 : kind < 0.99 ? 300 : kind < 0.999 ? 3600 : 86400;
    const qint64 lag = qint64(Unit(Mix(h ^ 2)) * double(most));
    return Unit(Mix(h ^ 3)) < 1.0 / 7 ? arrived + lag : arrived - lag;
}

bool RealisticGroup::IsMissing(qint64 number) const
{
    if (m_p.missing <= 0)
        return false;
    const qint64 index = number - m_p.low;
    const qint64 block = index / kMissingBlock;
    // Two chances of a run per block; a run may reach into the next block.
    const double chance = std::min(1.0, m_p.missing * kMissingBlock / (2 * m_p.meanMissingRun));
    for (qint64 b = std::max<qint64>(0, block - 1); b <= block; ++b)
        for (quint64 r = 0; r < 2; ++r) {
            const quint64 h = Hash(m_p.seed, 'x', quint64(b), r);
            if (Unit(h) >= chance)
                continue;
            const qint64 first = b * kMissingBlock + qint64(Mix(h ^ 1) % quint64(kMissingBlock));
            const qint64 length = std::min<qint64>(
                kLongestMissingRun,
                1 + qint64(-std::log(1 - Unit(Mix(h ^ 2))) * (m_p.meanMissingRun - 1)));
            if (index >= first && index < first + length)
                return true;
        }
    return false;
}

NntpArticleGroup RealisticGroup::ForServer(const QByteArray &name) const
{
    NntpArticleGroup g;
    g.name = name;
    g.low = m_p.low;
    g.high = m_p.high;
    const RealisticGroup self = *this;
    g.postedAt = [self](qint64 n) { return self.PostedAt(n); };
    g.isMissing = [self](qint64 n) { return self.IsMissing(n); };
    return g;
}

} // namespace TestSupport
