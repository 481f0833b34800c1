// Requests of the interpolating search and of halving, simulated in memory
// over realistic groups (no network). Prints per group size and day count
// the median, 90th percentile and most requests of each, and the share of
// fast searches within 8 and 16 requests.
//
// Usage: bench_search_rounds [groups per size, default 200]
#include "app/ArticleSearch.h"
#include "support/RealisticGroup.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using TestSupport::RealisticGroup;
using TestSupport::RealisticProfile;

namespace
{

int Fast(const RealisticGroup &g, qint64 target)
{
    FastArticleSearch search(g.Profile().low, g.Profile().high, target);
    while (!search.Done()) {
        const qint64 n = *search.NextProbe();
        search.Observe(n, g.IsMissing(n) ? std::nullopt : std::optional<qint64>(g.PostedAt(n)));
    }
    return search.Probes();
}

// The window's halving: both ends, midpoints rounded to even, and the found
// article fetched once more. A missing article is taken at its arrival.
int Halve(const RealisticGroup &g, qint64 target)
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
        const qint64 date = g.IsMissing(at) ? g.ArrivedAt(at) : g.PostedAt(at);
        if (high - low <= 2 || date == target)
            return requests;
        if (date < target) {
            low = at;
            at = r(at, high);
        } else {
            high = at;
            at = r(at, low);
        }
    }
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
    f.within8 = 100.0 * double(std::upper_bound(v.begin(), v.end(), 8) - v.begin()) / double(v.size());
    f.within16 =
        100.0 * double(std::upper_bound(v.begin(), v.end(), 16) - v.begin()) / double(v.size());
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    const int groups = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const qint64 now = 1800000000;
    const qint64 sizes[] = {1000000, 1000000000, 1000000000000};
    const int dayCounts[] = {1, 7, 30, 365};
    std::printf("%d random realistic groups per size; requests per search (HEADs)\n\n", groups);
    std::printf("%-9s %-6s | %-27s | %-13s | %s\n", "articles", "days", "fast median/p90/max",
                "<=8  <=16", "halve median/max");
    for (qint64 size : sizes) {
        std::vector<int> allFast;
        for (int days : dayCounts) {
            std::vector<int> fast, halve;
            for (int s = 0; s < groups; ++s) {
                const RealisticGroup g(RealisticProfile::Random(quint64(s) + 1000, size, now));
                const qint64 target = now - qint64(days) * 86400;
                fast.push_back(Fast(g, target));
                halve.push_back(Halve(g, target));
            }
            allFast.insert(allFast.end(), fast.begin(), fast.end());
            const Figures f = Summarise(fast), h = Summarise(halve);
            std::printf("%-9.0e %-6d | %5.1f %5.1f %5d             | %4.0f%% %4.0f%% | %5.1f %5d\n",
                        double(size), days, f.median, f.p90, f.most, f.within8, f.within16,
                        h.median, h.most);
        }
        const Figures f = Summarise(allFast);
        std::printf("%-9.0e %-6s | %5.1f %5.1f %5d             | %4.0f%% %4.0f%% |\n\n",
                    double(size), "all", f.median, f.p90, f.most, f.within8, f.within16);
    }
    return 0;
}
