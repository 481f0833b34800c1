// The interpolating article search, driven in memory: every result must be
// a true crossing of the target, and the requests must stay few.
#include "app/ArticleSearch.h"
#include "support/RealisticGroup.h"

#include <QTest>
#include <algorithm>
#include <functional>
#include <set>
#include <vector>

using TestSupport::RealisticGroup;
using TestSupport::RealisticProfile;

namespace
{

struct Group {
    qint64 low, high;
    std::function<qint64(qint64)> date;
    std::function<bool(qint64)> missing;
};

struct Outcome {
    qint64 result = -1;
    int probes = 0;
    int dated = 0; // requests answered with an article
    QString fault;
};

Outcome Search(const Group &g, qint64 target)
{
    Outcome o;
    FastArticleSearch search(g.low, g.high, target);
    std::set<qint64> asked;
    while (!search.Done()) {
        const qint64 n = *search.NextProbe();
        if (n < g.low || n > g.high || !asked.insert(n).second) {
            o.fault = QStringLiteral("asked for %1 out of range or twice").arg(n);
            return o;
        }
        if (asked.size() > 5000) {
            o.fault = QStringLiteral("does not end");
            return o;
        }
        o.dated += g.missing(n) ? 0 : 1;
        search.Observe(n, g.missing(n) ? std::nullopt : std::optional<qint64>(g.date(n)));
    }
    o.result = search.Result();
    o.probes = search.Probes();
    return o;
}

// Empty when b is a crossing of the target: the group counts as opening with
// an article dated before everything and closing with one dated after.
QString CrossingFault(const Group &g, qint64 target, qint64 b)
{
    qint64 first = g.low;
    while (first <= g.high && g.missing(first))
        ++first;
    if (first > g.high)
        return b == 0 ? QString() : QStringLiteral("%1 found in an empty group").arg(b);
    if (b < g.low || b > g.high || g.missing(b))
        return QStringLiteral("%1 is no article the server has").arg(b);
    if (g.date(b) > target)
        return b == first ? QString() : QStringLiteral("%1 is newer than the target").arg(b);
    qint64 next = b + 1;
    while (next <= g.high && g.missing(next))
        ++next;
    if (next <= g.high && g.date(next) <= target)
        return QStringLiteral("%1 after %2 is not newer than the target").arg(next).arg(b);
    return {};
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
};

void tst_articleSearch::smallGroups_data()
{
    QTest::addColumn<QList<qint64>>("dates"); // article low+i; -1: missing
    QTest::addColumn<qint64>("target");
    QTest::addColumn<qint64>("expected");
    using L = QList<qint64>;
    // Numbers start at 100.
    QTest::newRow("one article, older") << L{5} << qint64(9) << qint64(100);
    QTest::newRow("one article, newer") << L{5} << qint64(1) << qint64(100);
    QTest::newRow("all missing") << L{-1, -1, -1, -1} << qint64(9) << qint64(0);
    QTest::newRow("all newer, low missing") << L{-1, -1, 7, 8, 9} << qint64(2) << qint64(102);
    QTest::newRow("all older, high missing") << L{1, 2, 3, -1, -1} << qint64(9) << qint64(102);
    QTest::newRow("crossing across a missing run")
        << L{1, 2, 3, -1, -1, -1, 8, 9} << qint64(5) << qint64(102);
    QTest::newRow("equal date is not after") << L{1, 5, 5, 5, 9} << qint64(5) << qint64(103);
    // Dates run backwards at 101, 103 and 106; the only crossing is 104.
    QTest::newRow("dates run backwards")
        << L{1, 0, 3, 2, 4, 9, 8, 10} << qint64(5) << qint64(104);
}

void tst_articleSearch::smallGroups()
{
    QFETCH(QList<qint64>, dates);
    QFETCH(qint64, target);
    QFETCH(qint64, expected);
    const Group g{100, 100 + dates.size() - 1, [&](qint64 n) { return dates[n - 100]; },
                  [&](qint64 n) { return dates[n - 100] < 0; }};
    const Outcome o = Search(g, target);
    QVERIFY2(o.fault.isEmpty(), qPrintable(o.fault));
    QCOMPARE(o.result, expected);
    QVERIFY(CrossingFault(g, target, o.result).isEmpty());
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
    const int dayCounts[] = {0, 1, 2, 3, 7, 14, 30, 60, 100, 200, 365, 1000, 3000, 5000};
    std::vector<int> probes;
    for (quint64 seed = 1; seed <= 60; ++seed) {
        const RealisticGroup rg(RealisticProfile::Random(seed, articles, now));
        const Group g{rg.Profile().low, rg.Profile().high,
                      [&](qint64 n) { return rg.PostedAt(n); },
                      [&](qint64 n) { return rg.IsMissing(n); }};
        for (int days : dayCounts) {
            const qint64 target = now - qint64(days) * 86400;
            const Outcome o = Search(g, target);
            const QByteArray where = QByteArray::number(seed) + "/" + QByteArray::number(days);
            QVERIFY2(o.fault.isEmpty(), (where + " " + o.fault.toLatin1()).constData());
            const QString fault = CrossingFault(g, target, o.result);
            QVERIFY2(fault.isEmpty(), (where + " " + fault.toLatin1()).constData());
            QVERIFY2(o.dated <= halving + 8,
                     (where + " took " + QByteArray::number(o.dated)).constData());
            probes.push_back(o.probes);
        }
    }
    std::nth_element(probes.begin(), probes.begin() + probes.size() / 2, probes.end());
    QVERIFY2(probes[probes.size() / 2] <= halving / 2 + 2,
             QByteArray::number(probes[probes.size() / 2]).constData());
}

QTEST_GUILESS_MAIN(tst_articleSearch)
#include "tst_articleSearch.moc"
