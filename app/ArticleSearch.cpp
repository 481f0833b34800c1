#include "app/ArticleSearch.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace
{

// Extra dated probes the estimate phase may spend beyond plain halving
// before it is held to halving's pace.
constexpr int kSlack = 2;

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

void FastArticleSearch::Observe(qint64 number, std::optional<qint64> posted)
{
    ++m_probes;
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

// Where the dates of the bracket's ends put the crossing, assuming articles
// are posted evenly between them. A date only tells the second, so the
// crossing of T by whole seconds is sought at T + 1/2.
qint64 FastArticleSearch::Estimate() const
{
    const long double width = (long double)(m_above - m_below);
    long double toBelow = (long double)(m_target - m_belowDate) + 0.5L;
    long double toAbove = (long double)(m_aboveDate - m_target) - 0.5L;
    // An end that has not moved for a while is likely further off than its
    // date says; leaning towards it brings the next probe across the
    // crossing instead of creeping up to it from one side.
    if (m_sameSide >= 2)
        toAbove = std::ldexp(toAbove, -(m_sameSide - 1));
    else if (m_sameSide <= -2)
        toBelow = std::ldexp(toBelow, -(-m_sameSide - 1));
    long double at = (long double)m_below + width * toBelow / (toBelow + toAbove);
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
        m_anchor = Estimate();
        m_next = NearestUnknown(m_anchor);
        return;
    }
    // The estimate hit a missing article: look to either side of it at
    // growing distances, so a long missing run costs few probes.
    const int k = m_estimateMisses - 1;
    const qint64 stride = Stride(k / 2);
    m_next = NearestUnknown(k % 2 == 0 ? m_anchor + stride : m_anchor - stride);
}
