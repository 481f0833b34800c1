#include "app/ArticleSearch.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace
{

// Extra dated probes the estimate phase may spend beyond plain halving
// before it is held to halving's pace.
constexpr int kSlack = 4;
// Same-side probes in a row after which the end left behind is discounted.
constexpr int kStale = 2;

// 2^k, for the walks inward from a missing end.
qint64 Stride(int k)
{
    return qint64(1) << std::min(k, 62);
}

} // namespace

FastArticleSearch::FastArticleSearch(qint64 low, qint64 high, qint64 target)
    : m_low(low), m_high(high), m_target(target), m_below(low - 1), m_above(high + 1)
{
    Plan();
}

std::optional<qint64> FastArticleSearch::NextProbe() const
{
    return m_next;
}

bool FastArticleSearch::Done() const
{
    return !m_next;
}

qint64 FastArticleSearch::Result() const
{
    return m_result;
}

int FastArticleSearch::Probes() const
{
    return m_probes;
}

FastArticleSearch::Round FastArticleSearch::NextRound(int maxHeads, qint64 rangeLines) const
{
    Q_UNUSED(maxHeads);
    Q_UNUSED(rangeLines);
    Round round;
    if (m_next) {
        round.heads.push_back(*m_next);
        if (!m_roundOpen)
            ++m_rounds;
        m_roundOpen = true;
    }
    return round;
}

void FastArticleSearch::ObserveRange(qint64 low, qint64 high, const std::map<qint64, qint64> &dated)
{
    for (qint64 n = std::max(low, m_below + 1); n <= high && n < m_above; ++n) {
        const auto it = dated.find(n);
        Observe(n, it == dated.end() ? std::nullopt : std::optional<qint64>(it->second));
    }
}

int FastArticleSearch::Rounds() const
{
    return m_rounds;
}

void FastArticleSearch::Observe(qint64 number, std::optional<qint64> posted)
{
    ++m_probes;
    m_roundOpen = false;
    // Only numbers inside the bracket can narrow it; anything else (a late
    // or unasked answer) tells nothing new.
    if (!m_next || number <= m_below || number >= m_above)
        return;
    const Source source = number == *m_next ? m_source : Source::End;
    if (!posted) {
        m_missing.insert(number);
        if (source == Source::FromTop)
            ++m_topMisses;
        else if (source == Source::FromBottom)
            ++m_bottomMisses;
        else if (source == Source::Estimate)
            ++m_estimateMisses;
    } else {
        const bool estimating = m_below >= m_low && m_above <= m_high;
        m_dated[number] = *posted;
        if (*posted <= m_target) {
            m_below = number;
            m_belowDate = *posted;
            m_sameSide = m_sameSide > 0 ? m_sameSide + 1 : 1;
        } else {
            m_above = number;
            m_aboveDate = *posted;
            m_sameSide = m_sameSide < 0 ? m_sameSide - 1 : -1;
        }
        if (estimating)
            ++m_steps;
        m_estimateMisses = 0;
    }
    Plan();
}

qint64 FastArticleSearch::Unknowns() const
{
    const auto first = m_missing.upper_bound(m_below);
    const auto last = m_missing.lower_bound(m_above);
    return (m_above - m_below - 1) - qint64(std::distance(first, last));
}

// The number not yet asked for that lies nearest to the one wanted, inside
// the bracket. Callers make sure one exists.
qint64 FastArticleSearch::NearestUnknown(qint64 number) const
{
    number = std::clamp(number, m_below + 1, m_above - 1);
    for (qint64 d = 0;; ++d) {
        if (number + d < m_above && !m_missing.count(number + d))
            return number + d;
        if (number - d > m_below && !m_missing.count(number - d))
            return number - d;
    }
}

// Where the dates put the crossing of T by whole seconds (T + 1/2).
long double FastArticleSearch::Interpolate() const
{
    // A late article (a lagging clock, a slow relay) says little about where
    // the group stands: an end is taken as no earlier than any article
    // before it and no later than any after it.
    qint64 belowDate = m_belowDate;
    for (auto it = m_dated.begin(); it != m_dated.end() && it->first < m_below; ++it)
        belowDate = std::max(belowDate, it->second);
    belowDate = std::min(belowDate, m_target);
    qint64 aboveDate = m_aboveDate;
    for (auto it = m_dated.upper_bound(m_above); it != m_dated.end(); ++it)
        aboveDate = std::min(aboveDate, it->second);
    aboveDate = std::max(aboveDate, m_target + 1);

    const long double goal = (long double)m_target + 0.5L;
    const long double lo = (long double)m_below, hi = (long double)m_above;
    long double toBelow = goal - (long double)belowDate;
    long double toAbove = (long double)aboveDate - goal;
    // An end left behind by several probes that all fell on the other side
    // is likely further off than its date says (a burst between, say):
    // discounting it more with each such probe brings the next one across
    // the crossing instead of creeping up to it.
    if (std::abs(m_sameSide) > kStale) {
        if (m_sameSide > 0)
            toAbove = std::ldexp(toAbove, kStale - m_sameSide);
        else
            toBelow = std::ldexp(toBelow, kStale + m_sameSide);
        return lo + (hi - lo) * toBelow / (toBelow + toAbove);
    }
    const long double linear = lo + (hi - lo) * toBelow / (toBelow + toAbove);
    // A third article next to the bracket lets the estimate follow a rate
    // that changes across it.
    auto before = m_dated.lower_bound(m_below);
    auto after = m_dated.upper_bound(m_above);
    std::optional<std::pair<qint64, qint64>> third;
    if (before != m_dated.begin()) {
        --before;
        if (before->second < belowDate)
            third = *before;
    }
    if (after != m_dated.end() && after->second > aboveDate &&
        (!third || after->first - m_above < m_below - third->first))
        third = *after;
    if (!third)
        return linear;
    const long double n[3] = {lo, hi, (long double)third->first};
    const long double d[3] = {(long double)belowDate, (long double)aboveDate,
                              (long double)third->second};
    long double at = 0;
    for (int i = 0; i < 3; ++i) {
        long double term = n[i];
        for (int j = 0; j < 3; ++j)
            if (j != i)
                term *= (goal - d[j]) / (d[i] - d[j]);
        at += term;
    }
    if (!(at > lo && at < hi))
        return linear;
    return at;
}

qint64 FastArticleSearch::Estimate() const
{
    long double at = Interpolate();
    const long double width = (long double)(m_above - m_below);
    // Held near the middle once the estimates have used up their allowance:
    // the search never needs more than a few probes beyond halving.
    const long double middle = ((long double)m_below + (long double)m_above) / 2;
    const long double reach =
        std::max(0.0L, std::ldexp(0.5L, std::min(m_allowance - m_steps, 120)) - width / 2);
    at = std::clamp(at, middle - reach, middle + reach);
    return std::clamp(qint64(std::llround(at)), m_below + 1, m_above - 1);
}

void FastArticleSearch::Plan()
{
    if (m_low > m_high || Unknowns() == 0) {
        // The bracket's lower end is the crossing; with nothing dated at or
        // before the target, the lowest article the server has is.
        m_next.reset();
        m_result = m_below >= m_low ? m_below : (m_above <= m_high ? m_above : 0);
        return;
    }
    const bool haveBelow = m_below >= m_low;
    const bool haveAbove = m_above <= m_high;
    const qint64 middle = m_below + (m_above - m_below) / 2;
    if (!haveAbove) {
        // From the top down: the highest article first, then ever longer
        // strides past a missing run, never beyond the middle.
        m_source = Source::FromTop;
        m_next = NearestUnknown(std::max(m_above - Stride(m_topMisses), middle));
        return;
    }
    if (!haveBelow) {
        m_source = Source::FromBottom;
        m_next = NearestUnknown(std::min(m_below + Stride(m_bottomMisses), middle));
        return;
    }
    if (m_allowance < 0) {
        // Halving would need ceil(log2(width)) dated probes.
        int bits = 0;
        for (qint64 w = m_above - m_below - 1; w > 0; w >>= 1)
            ++bits;
        m_allowance = bits + kSlack;
        m_steps = 0;
        m_sameSide = 0;
    }
    m_source = Source::Estimate;
    if (m_estimateMisses == 0) {
        // An end dated out of line with the articles beyond it (a lagging
        // or hurried clock) is often right beside a crossing: the articles
        // next to it were posted on time.
        const auto below = m_dated.find(m_below);
        if (m_sameSide > 0 && below != m_dated.begin() && std::prev(below)->second > m_belowDate &&
            !m_missing.count(m_below + 1)) {
            m_next = m_below + 1;
            return;
        }
        const auto above = m_dated.find(m_above);
        if (m_sameSide < 0 && std::next(above) != m_dated.end() &&
            std::next(above)->second < m_aboveDate && !m_missing.count(m_above - 1)) {
            m_next = m_above - 1;
            return;
        }
        m_anchor = Estimate();
        m_next = NearestUnknown(m_anchor);
        return;
    }
    // The estimate hit a missing article: step past it at growing strides
    // towards the far end, so a long missing run costs few probes.
    const qint64 stride = Stride(m_estimateMisses - 1);
    const bool up = m_anchor - m_below < m_above - m_anchor;
    m_next = NearestUnknown(up ? m_anchor + stride : m_anchor - stride);
}
