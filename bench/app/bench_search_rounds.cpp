// Requests of the interpolating search and of halving, simulated in memory
// over realistic groups (no network). Prints per group size and day count
// the median, 90th percentile and most requests of each, and the share of
// fast searches within 8 and 16 requests.
//
// Halving stops at the first article whose age in tenths of a day equals
// the day count; the fast search pins the crossing to the second. The
// column "fast@0.1d" is the median number of requests after which the fast
// search had asked for such an article, a like-for-like figure.
//
// The column "run" is the median number of articles that arrived within
// the target's second. Dates are whole seconds, so inside that run every
// answer is one bit (at or before the target, or after): pinning the
// crossing there costs about log2(run) requests, whatever the search,
// unless a lagging date happens to mark a crossing earlier.
//
// A second table counts round trips (one wait for replies, however many
// commands it carried) of the pipelined search: 16 HEADs a round, with and
// without a header range of up to 2,000 lines (HDR Date low-high), beside
// the one-at-a-time search whose every request is a round trip. Bytes
// received per search are estimated: 500 per HEAD reply that has the
// article (status line and a usual header), 30 per "430" reply, and for a
// range 40 for its status line, 40 per article listed and 3 for the end.
//
// Usage: bench_search_rounds [groups per size, default 200]
#include "app/ArticleSearch.h"
#include "common/modMain.h"
#include "support/RealisticGroup.h"

#include <QDateTime>
#include <QTimeZone>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

using TestSupport::RealisticGroup;
using TestSupport::RealisticProfile;

namespace
{

const qint64 kNow = 1800000000;

// The age the window compares with the day count: tenths of a day.
double Age(qint64 date)
{
    return modMain::AgeInDays(modMain::FormatDateText(date),
                              QDateTime::fromSecsSinceEpoch(kNow, QTimeZone::utc()));
}

int Fast(const RealisticGroup &g, int days, int &coarse)
{
    const qint64 target = kNow - qint64(days) * 86400;
    FastArticleSearch search(g.Profile().low, g.Profile().high, target);
    coarse = 0;
    while (!search.Done()) {
        const qint64 n = *search.NextProbe();
        const bool missing = g.IsMissing(n);
        search.Observe(n, missing ? std::nullopt : std::optional<qint64>(g.PostedAt(n)));
        if (!coarse && !missing && Age(g.PostedAt(n)) == days)
            coarse = search.Probes();
    }
    if (!coarse)
        coarse = search.Probes();
    return search.Probes();
}

// The window's halving: both ends, midpoints rounded to even, and the found
// article fetched once more. A missing article is taken at its arrival.
int Halve(const RealisticGroup &g, int days)
{
    auto r = [](qint64 a, qint64 b) {
        const qint64 sum = a + b;
        if (sum % 2 == 0)
            return sum / 2;
        const qint64 below = (sum - 1) / 2;
        return below % 2 == 0 ? below : below + 1;
    };
    qint64 low = g.Profile().low, high = g.Profile().high;
    int requests = 3;
    qint64 at = r(low, high);
    for (;;) {
        ++requests;
        const double age = Age(g.IsMissing(at) ? g.ArrivedAt(at) : g.PostedAt(at));
        if (high - low <= 2 || age == days)
            return requests;
        if (age > days) {
            low = at;
            at = r(at, high);
        } else {
            high = at;
            at = r(at, low);
        }
    }
}

// Articles that arrived within the second of the target.
qint64 SecondRun(const RealisticGroup &g, int days)
{
    const qint64 target = kNow - qint64(days) * 86400;
    auto first = [&g](qint64 second) {
        qint64 lo = g.Profile().low, hi = g.Profile().high + 1;
        while (lo < hi) {
            const qint64 mid = lo + (hi - lo) / 2;
            if (g.ArrivedAt(mid) >= second)
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    };
    return first(target + 1) - first(target);
}

constexpr int kHeads = 16;
constexpr qint64 kRangeLines = 2000;
constexpr qint64 kHeadBytes = 500, kMissingBytes = 30, kRangeStatusBytes = 40,
                 kRangeLineBytes = 40, kRangeEndBytes = 3;

struct Pipelined {
    int rounds = 0;
    int requests = 0;
    qint64 bytes = 0;
};

// heads = 1: the one-at-a-time search, each request a round trip.
Pipelined Pipeline(const RealisticGroup &g, int days, int heads, qint64 rangeLines)
{
    const qint64 target = kNow - qint64(days) * 86400;
    FastArticleSearch search(g.Profile().low, g.Profile().high, target);
    Pipelined p;
    while (!search.Done()) {
        const FastArticleSearch::Round r = search.NextRound(heads, rangeLines);
        if (r.IsRange()) {
            std::map<qint64, qint64> dated;
            for (qint64 n = r.rangeLow; n <= r.rangeHigh; ++n)
                if (!g.IsMissing(n))
                    dated[n] = g.PostedAt(n);
            p.bytes += kRangeStatusBytes + kRangeLineBytes * qint64(dated.size()) + kRangeEndBytes;
            search.ObserveRange(r.rangeLow, r.rangeHigh, dated);
        }
        for (qint64 n : r.heads) {
            const bool missing = g.IsMissing(n);
            p.bytes += missing ? kMissingBytes : kHeadBytes;
            search.Observe(n, missing ? std::nullopt : std::optional<qint64>(g.PostedAt(n)));
        }
    }
    p.rounds = search.Rounds();
    p.requests = search.Probes();
    return p;
}

struct Figures {
    double median = 0, p90 = 0;
    int most = 0;
    double within8 = 0, within16 = 0;
};

Figures Summarise(std::vector<int> v)
{
    Figures f;
    std::sort(v.begin(), v.end());
    f.median = v[v.size() / 2];
    f.p90 = v[v.size() * 9 / 10];
    f.most = v.back();
    f.within8 =
        100.0 * double(std::upper_bound(v.begin(), v.end(), 8) - v.begin()) / double(v.size());
    f.within16 =
        100.0 * double(std::upper_bound(v.begin(), v.end(), 16) - v.begin()) / double(v.size());
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    const int groups = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const qint64 sizes[] = {1000000, 1000000000, 1000000000000};
    const int dayCounts[] = {1, 7, 30, 365};
    std::printf("%d random realistic groups per size; requests per search (HEADs)\n\n", groups);
    std::printf("%-9s %-6s | %-19s | %-11s | %-9s | %-5s | %s\n", "articles", "days",
                "fast median/p90/max", "<=8  <=16", "fast@0.1d", "run", "halve median/max");
    for (qint64 size : sizes) {
        std::vector<int> allFast;
        for (int days : dayCounts) {
            std::vector<int> fast, coarse, halve;
            std::vector<qint64> runs;
            for (int s = 0; s < groups; ++s) {
                const RealisticGroup g(RealisticProfile::Random(quint64(s) + 1000, size, kNow));
                int c = 0;
                fast.push_back(Fast(g, days, c));
                coarse.push_back(c);
                halve.push_back(Halve(g, days));
                runs.push_back(SecondRun(g, days));
            }
            allFast.insert(allFast.end(), fast.begin(), fast.end());
            const Figures f = Summarise(fast), c = Summarise(coarse), h = Summarise(halve);
            std::nth_element(runs.begin(), runs.begin() + runs.size() / 2, runs.end());
            std::printf(
                "%-9.0e %-6d | %5.1f %5.1f %5d   | %4.0f%% %4.0f%% | %9.1f | %5lld | %5.1f %5d\n",
                double(size), days, f.median, f.p90, f.most, f.within8, f.within16, c.median,
                (long long)runs[runs.size() / 2], h.median, h.most);
        }
        const Figures f = Summarise(allFast);
        std::printf("%-9.0e %-6s | %5.1f %5.1f %5d   | %4.0f%% %4.0f%% |\n\n", double(size), "all",
                    f.median, f.p90, f.most, f.within8, f.within16);
    }

    std::printf("Round trips per search over days 1, 7, 30 and 365 (%d groups each);\n"
                "requests and estimated bytes received: medians\n\n",
                groups);
    std::printf("%-9s %-22s | %-23s | %-8s | %s\n", "articles", "search",
                "rounds mean/med/p90/max", "requests", "bytes");
    struct Mode {
        const char *name;
        int heads;
        qint64 range;
    };
    const Mode modes[] = {{"one at a time", 1, 0},
                          {"16 HEADs", kHeads, 0},
                          {"16 HEADs + 2000 range", kHeads, kRangeLines}};
    for (qint64 size : sizes) {
        for (const Mode &m : modes) {
            std::vector<int> rounds, requests, bytes;
            for (int days : dayCounts) {
                for (int s = 0; s < groups; ++s) {
                    const RealisticGroup g(RealisticProfile::Random(quint64(s) + 1000, size, kNow));
                    const Pipelined p = Pipeline(g, days, m.heads, m.range);
                    rounds.push_back(p.rounds);
                    requests.push_back(p.requests);
                    bytes.push_back(int(p.bytes));
                }
            }
            const Figures r = Summarise(rounds), q = Summarise(requests), b = Summarise(bytes);
            double mean = 0;
            for (int n : rounds)
                mean += n;
            mean /= double(rounds.size());
            std::printf("%-9.0e %-22s | %5.2f %5.1f %5.1f %5d | %8.0f | %6.0f\n", double(size),
                        m.name, mean, r.median, r.p90, r.most, q.median, b.median);
        }
        std::printf("\n");
    }
    return 0;
}
