// A batch of 100 realistic groups of 10^6 to 10^9 articles in one run of
// the command line against the test server with a 20 ms reply delay (the
// server offers HDR): total wall time, requests and round trips, the fast
// search over one connection and over four (goals: at most 8 s and 3 s)
// beside halving over one, for two day counts.
//
// Usage: bench_search_batch [groups, default 100]
// Runs `pointwind --days N --dry-run --json --search fast|halve
// [--connections 4] FILE...` (see bench_search_server).
#include "SearchBench.h"

#include "support/NntpTestServer.h"
#include "support/RealisticGroup.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cmath>
#include <cstdio>
#include <cstdlib>

using namespace SearchBench;

namespace
{

void Print(const char *search, int days, const Run &run)
{
    QList<double> per, rounds;
    for (int r : run.requests)
        per << r;
    for (int r : run.rounds)
        rounds << r;
    double meanRounds = 0;
    for (double r : rounds)
        meanRounds += r / double(rounds.size());
    std::printf("%-6s %5d %-5d | %9.1f | %6d %6d | %8.1f %8.0f %8.0f | %5.2f %4.0f %4.0f | %s\n",
                search, run.connections, days, run.wallMs / 1000, run.heads, run.ranges,
                run.requests.isEmpty() ? 0.0 : double(run.heads) / double(run.requests.size()),
                Median(per), Max(per), meanRounds, Median(rounds), Max(rounds),
                run.ok ? "ok" : qPrintable(run.error));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int delayMs = 20;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    TestSupport::NntpTestServer server;
    QStringList groups;
    for (int i = 0; i < count; ++i) {
        // Sizes spread evenly on a log scale from 10^6 to 10^9.
        const qint64 size = qint64(std::pow(10.0, 6 + 3.0 * i / std::max(1, count - 1)));
        groups << QStringLiteral("alt.batch.g%1").arg(i + 1);
        const TestSupport::RealisticGroup g(
            TestSupport::RealisticProfile::Random(quint64(7000 + i), size, now));
        server.AddGroup(g.ForServer(groups.last().toLatin1()));
    }
    server.SetReplyDelay(delayMs);
    server.SetCapabilities(TestSupport::NntpCapabilities::Hdr);
    if (!server.Start()) {
        std::printf("the test server did not start\n");
        return 1;
    }
    const QStringList files = MakeGroupFiles(groups);
    std::printf("%d realistic groups of 10^6 to 10^9 articles, %d ms reply delay, one run of the "
                "command line\n",
                count, delayMs);
    std::printf("%-6s %5s %-5s | %-9s | %-6s %-6s | %-26s | %-15s\n", "search", "conns", "days",
                "total s", "HEADs", "ranges", "HEADs per group: mean, med, max",
                "rt: mean, med, max");
    for (int days : {7, 30}) {
        Print("fast", days, RunCommandLine(server, days, QStringLiteral("fast"), files));
        Print("fast", days,
              RunCommandLine(server, days, QStringLiteral("fast"), files,
                             {QStringLiteral("--connections"), QStringLiteral("4")}));
        Print("halve", days, RunCommandLine(server, days, QStringLiteral("halve"), files));
    }
    std::printf("goals: fast over one connection at most 8 s, over four at most 3 s\n");
    return 0;
}
