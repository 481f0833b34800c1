// The interpolating article search, driven in memory: every result must be
// a true crossing of the target, and the requests must stay few.
#include "app/ArticleSearch.h"
#include "support/RealisticGroup.h"

#include <QTest>
#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace
{

struct Group {
    qint64 low, high;
    std::function<qint64(qint64)> date;
    std::function<bool(qint64)> missing;
};

struct Outcome {
    qint64 result = -1; // -1: asked out of range, twice, or without end
    int probes = 0;
    int dated = 0; // requests answered with an article
};

Outcome Search(const Group &g, qint64 target)
{
    Outcome o;
    FastArticleSearch search(g.low, g.high, target);
    std::set<qint64> asked;
    while (!search.Done()) {
        const qint64 n = *search.NextProbe();
        if (n < g.low || n > g.high || !asked.insert(n).second || asked.size() > 5000)
            return o;
        o.dated += g.missing(n) ? 0 : 1;
        search.Observe(n, g.missing(n) ? std::nullopt : std::optional<qint64>(g.date(n)));
    }
    o.result = search.Result();
    o.probes = search.Probes();
    return o;
}

// The search by rounds, as a pipelining driver runs it. `rangeOff`: the
// round from which the driver offers no header range (the server's reply
// was garbage, say); 0: the first range is refused. Every probe must lie in the group and be asked once,
// and a range must keep within rangeLines.
Outcome SearchRounds(const Group &g, qint64 target, int heads, qint64 rangeLines, int rangeOff,
                     int *rounds)
{
    Outcome o;
    FastArticleSearch search(g.low, g.high, target);
    std::set<qint64> asked;
    bool refused = false;
    while (!search.Done()) {
        bool offered = !refused && (rangeOff <= 0 || search.Rounds() < rangeOff);
        FastArticleSearch::Round r = search.NextRound(heads, offered ? rangeLines : 0);
        // rangeOff 0: the server answers the first range with an error, and
        // the driver goes on without.
        // A range refused beside HEADs: their replies still count.
        bool dropRange = false;
        if (r.IsRange() && rangeOff == 0) {
            refused = true;
            offered = false;
            if (r.heads.empty())
                r = search.NextRound(heads, 0);
            else
                dropRange = true;
        }
        if (search.Rounds() > 1000)
            return o;
        if ((r.heads.empty() && !r.IsRange()) || int(r.heads.size()) > heads)
            return o;
        // The HEADs first, as the driver sends them, each number asked once
        // and none inside the round's range.
        for (qint64 n : r.heads) {
            if (n < g.low || n > g.high || !asked.insert(n).second ||
                (n >= r.rangeLow && n <= r.rangeHigh))
                return o;
            search.Observe(n, g.missing(n) ? std::nullopt : std::optional<qint64>(g.date(n)));
        }
        if (r.IsRange() && !dropRange) {
            if (!offered || r.rangeLow < g.low || r.rangeHigh > g.high ||
                r.rangeHigh - r.rangeLow >= rangeLines)
                return o;
            std::map<qint64, qint64> dated;
            for (qint64 n = r.rangeLow; n <= r.rangeHigh; ++n)
                if (!g.missing(n))
                    dated[n] = g.date(n);
            search.ObserveRange(r.rangeLow, r.rangeHigh, dated);
        }
    }
    o.result = search.Result();
    o.probes = search.Probes();
    *rounds = search.Rounds();
    return o;
}

// The group counts as opening with an article dated before everything and
// closing with one dated after.
bool IsCrossing(const Group &g, qint64 target, qint64 b)
{
    qint64 first = g.low;
    while (first <= g.high && g.missing(first))
        ++first;
    if (first > g.high || b < g.low || b > g.high || g.missing(b))
        return first > g.high && b == 0;
    if (g.date(b) > target)
        return b == first;
    qint64 next = b + 1;
    while (next <= g.high && g.missing(next))
        ++next;
    return next > g.high || g.date(next) > target;
}

} // namespace

class tst_articleSearch : public QObject
{
    Q_OBJECT

  private slots:
    void smallGroups_data();
    void smallGroups();
    void realisticGroups_data();
    void realisticGroups();
    void rounds_data();
    void rounds();
};

void tst_articleSearch::smallGroups_data()
{
    QTest::addColumn<qint64>("low");
    QTest::addColumn<QList<qint64>>("dates"); // of low, low + 1...; -1: missing
    QTest::addColumn<qint64>("target");
    QTest::addColumn<qint64>("expected"); // offset from low; -1: none
    using L = QList<qint64>;
    QTest::newRow("one article, older") << qint64(100) << L{5} << qint64(9) << qint64(0);
    QTest::newRow("one article, newer") << qint64(100) << L{5} << qint64(1) << qint64(0);
    QTest::newRow("all missing") << qint64(100) << L{-1, -1, -1} << qint64(9) << qint64(-1);
    QTest::newRow("all newer, low missing")
        << qint64(100) << L{-1, -1, 7, 8} << qint64(2) << qint64(2);
    QTest::newRow("all older, high missing")
        << qint64(100) << L{1, 2, 3, -1, -1} << qint64(9) << qint64(2);
    QTest::newRow("crossing across a missing run")
        << qint64(100) << L{1, 2, 3, -1, -1, -1, 8, 9} << qint64(5) << qint64(2);
    QTest::newRow("equal date is not after")
        << qint64(100) << L{1, 5, 5, 5, 9} << qint64(5) << qint64(3);
    // Dates run backwards at +1, +3 and +6; the only crossing is +4.
    QTest::newRow("dates run backwards")
        << qint64(100) << L{1, 0, 3, 2, 4, 9, 8, 10} << qint64(5) << qint64(4);
    // The largest article numbers there may be.
    QTest::newRow("numbers up to 2^53")
        << (qint64(1) << 53) - 8 << L{1, 2, 3, 4, 6, 7, 8, 9, 10} << qint64(5) << qint64(3);
}

void tst_articleSearch::smallGroups()
{
    QFETCH(qint64, low);
    QFETCH(QList<qint64>, dates);
    QFETCH(qint64, target);
    QFETCH(qint64, expected);
    const Group g{low, low + dates.size() - 1, [&](qint64 n) { return dates[n - low]; },
                  [&](qint64 n) { return dates[n - low] < 0; }};
    const Outcome o = Search(g, target);
    QCOMPARE(o.result, expected < 0 ? 0 : low + expected);
    QVERIFY(IsCrossing(g, target, o.result));
    // By rounds the same crossing, whether a round asks all or a few.
    for (const auto &[heads, range] : {std::pair{16, qint64(0)}, {2, 0}, {3, 4}, {16, 2000}}) {
        int rounds = 0;
        QCOMPARE(SearchRounds(g, target, heads, range, -1, &rounds).result, o.result);
    }
}

void tst_articleSearch::realisticGroups_data()
{
    QTest::addColumn<qint64>("articles");
    QTest::newRow("10^3") << qint64(1000);
    QTest::newRow("10^6") << qint64(1000000);
    QTest::newRow("10^9") << qint64(1000000000);
    QTest::newRow("10^12") << qint64(1000000000000);
}

// Random groups and day counts, from before the first article to after the
// last. However the dates run, the articles that answered stay within a few
// of what halving needs, and half the searches need at most half as many.
void tst_articleSearch::realisticGroups()
{
    QFETCH(qint64, articles);
    int halving = 0;
    while ((qint64(1) << halving) < articles)
        ++halving;
    const qint64 now = 1800000000;
    std::vector<int> probes;
    for (quint64 seed = 1; seed <= 60; ++seed) {
        const TestSupport::RealisticGroup rg(
            TestSupport::RealisticProfile::Random(seed, articles, now));
        const Group g{rg.Profile().low, rg.Profile().high, [&](qint64 n) { return rg.PostedAt(n); },
                      [&](qint64 n) { return rg.IsMissing(n); }};
        for (int days : {0, 1, 2, 3, 7, 14, 30, 60, 100, 200, 365, 1000, 3000, 5000}) {
            const qint64 target = now - qint64(days) * 86400;
            const Outcome o = Search(g, target);
            const QByteArray where = QByteArray::number(seed) + "/" + QByteArray::number(days);
            QVERIFY2(IsCrossing(g, target, o.result), where.constData());
            QVERIFY2(o.dated <= halving + 8, where.constData());
            probes.push_back(o.probes);
        }
    }
    std::nth_element(probes.begin(), probes.begin() + probes.size() / 2, probes.end());
    QVERIFY(probes[probes.size() / 2] <= halving / 2 + 2);
}

void tst_articleSearch::rounds_data()
{
    QTest::addColumn<qint64>("articles");
    QTest::addColumn<qint64>("rangeLines"); // 0: HEADs only
    QTest::addColumn<int>("rangeOff");      // the round from which no range is offered
    QTest::addColumn<int>("maxRounds");
    QTest::addColumn<int>("medianRounds"); // over the groups without missing runs
    QTest::newRow("10^6 HEADs") << qint64(1000000) << qint64(0) << -1 << 16 << 4;
    QTest::newRow("10^6 range") << qint64(1000000) << qint64(2000) << -1 << 10 << 2;
    QTest::newRow("10^9 HEADs") << qint64(1000000000) << qint64(0) << -1 << 16 << 6;
    QTest::newRow("10^9 range") << qint64(1000000000) << qint64(2000) << -1 << 10 << 3;
    QTest::newRow("10^9 range, then none") << qint64(1000000000) << qint64(2000) << 3 << 20 << 4;
    QTest::newRow("10^6 range, refused") << qint64(1000000) << qint64(2000) << 0 << 16 << 5;
    QTest::newRow("10^12 HEADs") << qint64(1000000000000) << qint64(0) << -1 << 20 << 8;
    QTest::newRow("10^12 range") << qint64(1000000000000) << qint64(2000) << -1 << 10 << 5;
}

// Pipelined, 16 HEADs a round: random groups with unordered dates, and every
// third one with long missing runs that the crossing often borders (no
// bound on rounds there: asking HEADs, each missing number there costs a
// probe).
void tst_articleSearch::rounds()
{
    QFETCH(qint64, articles);
    QFETCH(qint64, rangeLines);
    QFETCH(int, rangeOff);
    QFETCH(int, maxRounds);
    QFETCH(int, medianRounds);
    const qint64 now = 1800000000;
    std::vector<int> counts;
    for (quint64 seed = 1; seed <= 24; ++seed) {
        auto profile = TestSupport::RealisticProfile::Random(seed, articles, now);
        const bool holes = seed % 3 == 0;
        if (holes) {
            profile.missing = 0.3;
            profile.meanMissingRun = 60;
        }
        const TestSupport::RealisticGroup rg(profile);
        const Group g{rg.Profile().low, rg.Profile().high, [&](qint64 n) { return rg.PostedAt(n); },
                      [&](qint64 n) { return rg.IsMissing(n); }};
        for (int days : {0, 1, 7, 30, 365, 5000}) {
            const qint64 target = now - qint64(days) * 86400;
            int rounds = 0;
            const Outcome o = SearchRounds(g, target, 16, rangeLines, rangeOff, &rounds);
            const QByteArray where = QByteArray::number(seed) + "/" + QByteArray::number(days) +
                                     ": " + QByteArray::number(rounds) + " rounds";
            QVERIFY2(IsCrossing(g, target, o.result), where.constData());
            QVERIFY2(holes || rounds <= maxRounds, where.constData());
            if (!holes)
                counts.push_back(rounds);
        }
    }
    std::nth_element(counts.begin(), counts.begin() + counts.size() / 2, counts.end());
    QVERIFY2(counts[counts.size() / 2] <= medianRounds,
             QByteArray::number(counts[counts.size() / 2]).constData());
}

QTEST_GUILESS_MAIN(tst_articleSearch)
#include "tst_articleSearch.moc"
