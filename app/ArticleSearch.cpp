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
// Rounds in a row that moved one end only, after which the next one looks
// near the other end.
constexpr int kStaleRounds = 2;
// Half the gap a round leaves around the estimate, as a share of the
// bracket: the estimates are seldom closer than that.
constexpr long double kInner = 0.001L;
// A bracket within this many rounds' worth of closely spaced probes gets a
// window of them around the estimate.
constexpr long double kFinish = 16;
// The first round's probe nearest the top, as a share of the group.
constexpr long double kNearest = 1.0L / 8192;
// A bracket within this many ranges' width gets a range around the estimate
// beside the round's HEADs. Wider, the estimate is seldom close enough to be
// worth a range's bytes.
constexpr qint64 kSpeculate = 2000;

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
    Round round;
    if (!m_next)
        return round;
    // A range whose reply was of no use comes back with no range allowed:
    // what replaces it is a round of its own.
    if (!m_roundOpen || (m_rangeOpen && rangeLines <= 0)) {
        ++m_rounds;
        // Rounds in a row whose dated probes all fell on one side of the
        // crossing: the estimate keeps erring the same way.
        const bool belowMoved = m_below != m_roundBelow, aboveMoved = m_above != m_roundAbove;
        if (belowMoved && !aboveMoved)
            m_staleRounds = m_staleRounds > 0 ? m_staleRounds + 1 : 1;
        else if (aboveMoved && !belowMoved)
            m_staleRounds = m_staleRounds < 0 ? m_staleRounds - 1 : -1;
        else
            m_staleRounds = 0;
        m_roundBelow = m_below;
        m_roundAbove = m_above;
    }
    m_roundOpen = true;
    m_rangeOpen = false;
    // A range settles the bracket in one round, but a handful of numbers
    // asked for by HEAD do as well for fewer bytes.
    if (rangeLines > 0 && Unknowns() > maxHeads) {
        qint64 first = m_below + 1, last = m_above - 1;
        while (m_missing.count(first))
            ++first;
        while (m_missing.count(last))
            --last;
        if (last - first < rangeLines) {
            round.rangeLow = first;
            round.rangeHigh = last;
            m_rangeOpen = true;
            return round;
        }
    }
    if (maxHeads <= 1) {
        round.heads.push_back(*m_next);
        return round;
    }
    // Narrow enough that the estimate often falls within a range's reach of
    // the crossing: a range around it settles the search in this round when
    // it does, and HEADs around the range narrow the bracket when it does
    // not. Not while the estimates keep erring one way, where it is wasted.
    const qint64 width = m_above - m_below;
    if (rangeLines > 0 && maxHeads >= 4 && Unknowns() > maxHeads && m_below >= m_low &&
        m_above <= m_high && std::abs(m_staleRounds) < kStaleRounds &&
        width <= rangeLines * kSpeculate) {
        const long double at = Interpolate(0, true);
        qint64 first = qint64(std::llround(at)) - rangeLines / 2;
        first = std::clamp(first, m_below + 1, std::max(m_below + 1, m_above - rangeLines));
        round.rangeLow = first;
        round.rangeHigh = std::min(first + rangeLines - 1, m_above - 1);
        round.heads = HeadsAround(maxHeads, rangeLines, round.rangeLow, round.rangeHigh);
        m_rangeOpen = true;
        return round;
    }
    round.heads = PlanHeads(maxHeads, rangeLines);
    return round;
}

// A round's HEADs beside its range first..last: `least` apart next to it,
// so that a crossing just outside the range is left in a bracket the next
// range covers, then at distances growing geometrically out to the ends.
std::vector<qint64> FastArticleSearch::HeadsAround(int count, qint64 rangeLines, qint64 first,
                                                   qint64 last) const
{
    const long double least = (long double)rangeLines;
    const long double sides[2] = {(long double)(first - m_below - 1),
                                  (long double)(m_above - 1 - last)};
    long double weights[2];
    for (int s = 0; s < 2; ++s)
        weights[s] = sides[s] > least ? std::log(sides[s] / least) + 1 : 0;
    int n0 = weights[0] + weights[1] > 0
                 ? int(std::lround(count * weights[0] / (weights[0] + weights[1])))
                 : 0;
    const int n[2] = {n0, weights[0] + weights[1] > 0 ? count - n0 : 0};
    std::vector<long double> want;
    for (int s = 0; s < 2; ++s) {
        const long double ratio = std::pow(sides[s] / least, 1.0L / (n[s] + 1));
        for (int i = 1; i <= n[s]; ++i) {
            const long double off =
                sides[s] <= least * (n[s] + 1)
                    ? sides[s] * i / (n[s] + 1)
                    : std::max(least * i, least * std::pow(ratio, (long double)i));
            want.push_back(s == 0 ? (long double)first - off : (long double)last + off);
        }
    }
    std::set<qint64> chosen;
    for (long double w : want) {
        const qint64 at = std::clamp(qint64(std::llround(w)), m_below + 1, m_above - 1);
        for (qint64 d = 0;; ++d) {
            const qint64 up = at + d, down = at - d;
            auto free = [&](qint64 k) {
                return k > m_below && k < m_above && (k < first || k > last) &&
                       !m_missing.count(k) && !chosen.count(k);
            };
            if (free(up)) {
                chosen.insert(up);
                break;
            }
            if (free(down)) {
                chosen.insert(down);
                break;
            }
            if (up >= m_above && down <= m_below)
                break;
        }
    }
    return {chosen.begin(), chosen.end()};
}

void FastArticleSearch::ObserveRange(qint64 low, qint64 high, const std::map<qint64, qint64> &dated)
{
    ++m_probes;
    m_roundOpen = false;
    if (!m_next)
        return;
    for (auto it = dated.lower_bound(std::max(low, m_low));
         it != dated.end() && it->first <= high && it->first <= m_high; ++it) {
        if (!m_missing.count(it->first))
            m_dated.emplace(it->first, it->second);
    }
    // Only the bracket's numbers matter; a range reaching far beyond it (not
    // one this search asked for) must not cost a step per number.
    const qint64 from = std::max(low, m_below + 1), to = std::min(high, m_above - 1);
    if (to - from < (qint64(1) << 20)) {
        for (qint64 n = from; n <= to; ++n)
            if (!dated.count(n) && !m_dated.count(n))
                m_missing.insert(n);
    }
    Tighten();
    Plan();
}

int FastArticleSearch::Rounds() const
{
    return m_rounds;
}

void FastArticleSearch::Observe(qint64 number, std::optional<qint64> posted)
{
    ++m_probes;
    m_roundOpen = false;
    if (!m_next || number < m_low || number > m_high || m_missing.count(number) ||
        m_dated.count(number))
        return;
    // Only a number inside the bracket moves the one-at-a-time walk on; one
    // outside it (another probe of the same round) still counts in Tighten().
    const bool inside = number > m_below && number < m_above;
    const Source source = number == *m_next ? m_source : Source::End;
    if (!posted) {
        m_missing.insert(number);
        if (inside && source == Source::FromTop)
            ++m_topMisses;
        else if (inside && source == Source::FromBottom)
            ++m_bottomMisses;
        else if (inside && source == Source::Estimate)
            ++m_estimateMisses;
    } else {
        m_dated[number] = *posted;
        if (inside) {
            if (m_below >= m_low && m_above <= m_high)
                ++m_steps;
            if (*posted <= m_target)
                m_sameSide = m_sameSide > 0 ? m_sameSide + 1 : 1;
            else
                m_sameSide = m_sameSide < 0 ? m_sameSide - 1 : -1;
            m_estimateMisses = 0;
        }
    }
    Tighten();
    Plan();
}

// The bracket is the narrowest pair of neighbouring dated articles that
// cross the target, the group's ends counting as crossing it. Asked one at
// a time there is only ever one such pair; several probes of a round, with
// dates out of order, can make several, and any one holds a crossing.
void FastArticleSearch::Tighten()
{
    qint64 prev = m_low - 1;
    bool prevBelow = true;
    qint64 bestBelow = m_below, bestAbove = m_above, bestUnknowns = -1;
    auto consider = [&](qint64 above) {
        const qint64 missing = qint64(
            std::distance(m_missing.upper_bound(prev), m_missing.lower_bound(above)));
        const qint64 unknowns = above - prev - 1 - missing;
        if (bestUnknowns < 0 || unknowns < bestUnknowns) {
            bestUnknowns = unknowns;
            bestBelow = prev;
            bestAbove = above;
        }
    };
    for (const auto &[number, date] : m_dated) {
        const bool below = date <= m_target;
        if (prevBelow && !below)
            consider(number);
        prev = number;
        prevBelow = below;
    }
    if (prevBelow)
        consider(m_high + 1);
    m_below = bestBelow;
    m_above = bestAbove;
    if (m_below >= m_low)
        m_belowDate = m_dated.at(m_below);
    if (m_above <= m_high)
        m_aboveDate = m_dated.at(m_above);
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
long double FastArticleSearch::Interpolate(int sameSide, bool curved) const
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
    if (std::abs(sameSide) > kStale) {
        if (sameSide > 0)
            toAbove = std::ldexp(toAbove, kStale - sameSide);
        else
            toBelow = std::ldexp(toBelow, kStale + sameSide);
        return lo + (hi - lo) * toBelow / (toBelow + toAbove);
    }
    const long double linear = lo + (hi - lo) * toBelow / (toBelow + toAbove);
    // A third article next to the bracket lets the estimate follow a rate
    // that changes across it (curved); a round spreads its probes widely
    // enough to do as well on the straight line.
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
    if (!third || !curved)
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
    long double at = Interpolate(m_sameSide, true);
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

// One round's probes, spread so that whichever gap between them holds the
// crossing is narrow: evenly over a small bracket, else at distances that
// grow geometrically away from where the crossing is expected, so that a
// good estimate leaves a narrow bracket and a poor one still a much
// narrower one than before.
std::vector<qint64> FastArticleSearch::PlanHeads(int count, qint64 rangeLines) const
{
    std::vector<qint64> heads;
    if (Unknowns() <= count) {
        for (qint64 n = m_below + 1; n < m_above; ++n)
            if (!m_missing.count(n))
                heads.push_back(n);
        return heads;
    }
    const bool haveBelow = m_below >= m_low;
    const bool haveAbove = m_above <= m_high;
    const long double width = (long double)(m_above - m_below);
    std::vector<long double> want;
    // Ends dated out of line with the articles beyond them (a lagging or
    // hurried clock) are often right beside a crossing.
    if (haveBelow && haveAbove) {
        const auto below = m_dated.find(m_below);
        if (below != m_dated.begin() && std::prev(below)->second > m_belowDate)
            want.push_back((long double)m_below + 1);
        const auto above = m_dated.find(m_above);
        if (std::next(above) != m_dated.end() && std::next(above)->second < m_aboveDate)
            want.push_back((long double)m_above - 1);
    }
    int spread = count - int(want.size());
    // No gap need be narrower than the range that would settle the rest.
    const long double least = rangeLines > 0 ? (long double)rangeLines : 1.0L;
    // Ends dated the target's second and the next one say nothing of where
    // between them the crossing is (a busy second's run of articles).
    const bool blind = haveBelow && haveAbove && m_belowDate == m_target &&
                       m_aboveDate == m_target + 1;
    if (width <= least * (spread + 1) || blind) {
        for (int i = 1; i <= spread; ++i)
            want.push_back((long double)m_below + width * i / (spread + 1));
    } else if (!haveBelow && !haveAbove) {
        // Nothing dated yet: both ends, then ever wider steps down from the
        // top, where most searches for recent days end.
        want.push_back((long double)m_above - 1);
        want.push_back((long double)m_below + 1);
        const int steps = spread - 2;
        const long double nearest = std::max(1.0L, width * kNearest);
        for (int i = 0; i < steps; ++i)
            want.push_back((long double)m_above -
                           nearest * std::pow(width / 2 / nearest,
                                              steps > 1 ? (long double)i / (steps - 1) : 0.0L));
    } else if (!haveBelow || !haveAbove || std::abs(m_staleRounds) >= kStaleRounds) {
        // One end known: the crossing is most likely at the other, where
        // nothing but missing articles may lie before the first dated one.
        // So too when the estimates keep erring towards one end (a burst
        // right after the crossing, a lull before it): the crossing is then
        // likely close to the end they left behind.
        const bool up = !haveBelow || (haveAbove && m_staleRounds < 0);
        for (int i = 0; i < spread; ++i) {
            const long double step =
                std::max((long double)i + 1, std::pow(width, (long double)i / spread));
            want.push_back(up ? (long double)m_below + step : (long double)m_above - step);
        }
    } else {
        // Around the estimate, at distances growing geometrically from a
        // small gap out to the ends: its error is spread over orders of
        // magnitude, and each probe on a side narrows the bracket by the
        // same ratio wherever the crossing turns out to be.
        const long double lo = (long double)m_below, hi = (long double)m_above;
        const long double half = std::max(least / 2, width * kInner);
        const long double at = std::clamp(Interpolate(0, false), lo + half, hi - half);
        // Close enough that one more round can settle it: a window of probes
        // `least` apart around the estimate, kept inside the bracket, and a
        // few probes beyond it in case the estimate is further off.
        long double from = at, to = at;
        if (width <= least * (spread + 1) * kFinish) {
            const int window = spread >= 8 ? spread - 4 : spread;
            const long double span = least * (window + 1);
            from = std::clamp(at - span / 2, lo, hi - span);
            to = from + span;
            for (int i = 1; i <= window; ++i)
                want.push_back(from + least * i);
            spread -= window;
        }
        const long double sides[2] = {from - lo, hi - to};
        long double spans[2];
        for (int s = 0; s < 2; ++s)
            spans[s] = std::max(0.0L, std::log(sides[s] / half));
        int n0 = spans[0] + spans[1] > 0
                     ? int(std::lround(spread * spans[0] / (spans[0] + spans[1])))
                     : spread / 2;
        if (spans[0] > 0 && n0 == 0)
            n0 = 1;
        if (spans[1] > 0 && n0 == spread)
            n0 = spread - 1;
        const int n[2] = {std::max(0, n0), spread - std::max(0, n0)};
        // Beyond a window the first probe keeps its distance from it.
        const long double base = from < to ? least : half;
        const int skip = from < to ? 1 : 0;
        for (int s = 0; s < 2; ++s) {
            const long double ratio = sides[s] / base;
            for (int i = 0; i < n[s]; ++i) {
                const long double off =
                    base * std::pow(ratio, (long double)(i + skip) / (n[s] + skip));
                want.push_back(s == 0 ? from - off : to + off);
            }
        }
    }
    std::set<qint64> chosen;
    for (long double w : want) {
        if (chosen.size() >= size_t(count) || qint64(chosen.size()) >= Unknowns())
            break;
        const qint64 n = std::clamp(qint64(std::llround(w)), m_below + 1, m_above - 1);
        // The nearest number neither known nor already chosen.
        for (qint64 d = 0;; ++d) {
            const qint64 up = n + d, down = n - d;
            if (up < m_above && !m_missing.count(up) && !chosen.count(up)) {
                chosen.insert(up);
                break;
            }
            if (down > m_below && !m_missing.count(down) && !chosen.count(down)) {
                chosen.insert(down);
                break;
            }
            if (up >= m_above && down <= m_below)
                break;
        }
    }
    return {chosen.begin(), chosen.end()};
}
