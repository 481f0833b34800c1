#pragma once
// The search for the article where a group crosses a moment in time, asked
// one article at a time. It does no input or output of its own: its driver
// sends the HEAD of NextProbe(), reports what came back with Observe(), and
// goes on until Done().
//
// The result is an article b that the server has, with Date(b) <= target,
// where the next article the server has after b is dated after the target.
// When every article is newer than the target the result is the lowest
// article the server has; when every one is older, the highest. Dates are
// not strictly in the order of the numbers, so there may be several such
// crossings; any one will do, and the group counts as opening and closing
// with one: a lowest article dated after the target is the result, and so
// is a highest one dated at or before it.
//
// Each number strictly between b and the next article the server has is
// asked for before the search ends, so a missing run right at the crossing
// costs a request per number; elsewhere missing runs are stepped over.
//
// Over a pipelining connection the same search goes by rounds, one round
// trip each: NextRound() gives several HEAD probes, spread so that the
// bracket narrows the most whichever way the dates fall, and once the
// bracket is narrow enough a header range (HDR Date low-high) that tells
// the date of every article in it: one covering the whole bracket settles
// the search; one around the estimate, with HEADs beside it, settles it
// when the estimate was close and narrows the bracket when it was not.
#include <QtGlobal>
#include <map>
#include <optional>
#include <set>
#include <vector>

class FastArticleSearch
{
  public:
    // low..high: the group's article numbers as GROUP gave them (low <= high).
    // target: the moment sought, in seconds since 1970 UTC.
    FastArticleSearch(qint64 low, qint64 high, qint64 target);

    // The article to ask for next; nothing once Done().
    std::optional<qint64> NextProbe() const;
    // What the server said of an article asked for: its posting time in
    // seconds since 1970 UTC, or nothing when it lacks the article (423) or
    // its date cannot be read.
    void Observe(qint64 number, std::optional<qint64> posted);

    bool Done() const;
    // Meaningful once Done(); 0 when the server has none of the articles.
    qint64 Result() const;
    // The requests asked for so far.
    int Probes() const;

    // The commands for one round trip: a few HEAD probes, one header range
    // low..high, or both (the range then apart from the HEADs' numbers).
    struct Round
    {
        std::vector<qint64> heads;
        qint64 rangeLow = 0, rangeHigh = -1;
        bool IsRange() const { return rangeLow <= rangeHigh; }
    };
    // The next round trip: up to maxHeads HEAD probes, and when rangeLines > 0
    // and the bracket is narrow enough one header range of at most
    // rangeLines numbers. Empty once Done(). The driver sends it all, feeds
    // every reply back with Observe() or ObserveRange() in any order, then
    // asks again; it may drop a range it could not get and pass
    // rangeLines = 0 from then on, and the search ends on HEADs alone.
    Round NextRound(int maxHeads, qint64 rangeLines) const;
    // What a header range told: every number in low..high absent from `dated`
    // is missing.
    void ObserveRange(qint64 low, qint64 high, const std::map<qint64, qint64> &dated);
    // The rounds planned so far.
    int Rounds() const;

  private:
    // Where the next probe came from: the group's two ends, a walk inward
    // from an end whose articles are missing, or the estimate between two
    // dated articles.
    enum class Source { End, FromTop, FromBottom, Estimate };

    void Plan();
    void Tighten();
    qint64 NearestUnknown(qint64 number) const;
    qint64 Unknowns() const;
    long double Interpolate(int sameSide, bool curved) const;
    std::vector<qint64> PlanHeads(int count, qint64 rangeLines) const;
    std::vector<qint64> HeadsAround(int count, qint64 rangeLines, qint64 first, qint64 last) const;
    qint64 Estimate() const;

    qint64 m_low;
    qint64 m_high;
    qint64 m_target;
    // The bracket: m_below is an article dated at or before the target (or
    // m_low - 1 while none is known), m_above one dated after it (or
    // m_high + 1). A crossing lies between them; every number strictly
    // between them the server was asked for is in m_missing.
    qint64 m_below;
    qint64 m_above;
    qint64 m_belowDate = 0;
    qint64 m_aboveDate = 0;
    std::set<qint64> m_missing;
    std::map<qint64, qint64> m_dated; // every article asked for that had a date

    std::optional<qint64> m_next;
    Source m_source = Source::End;
    qint64 m_result = 0;
    int m_probes = 0;
    // NextRound() counts a round once, however often it is asked before the
    // replies come back.
    mutable int m_rounds = 0;
    mutable bool m_roundOpen = false;
    mutable bool m_rangeOpen = false;
    mutable qint64 m_roundBelow = 0, m_roundAbove = 0;
    mutable int m_staleRounds = 0;

    int m_topMisses = 0;
    int m_bottomMisses = 0;
    // The estimate phase: dated probes so far, the allowance that keeps it
    // within a few probes of halving, the run of same-side moves and the
    // misses around the current estimate.
    int m_steps = 0;
    int m_allowance = -1;
    int m_sameSide = 0;
    int m_estimateMisses = 0;
    qint64 m_anchor = 0;
};
