// The fast search beside halving against the test server, whose replies each
// leave 20 ms after their own command arrived (a link's latency: commands
// sent together wait one delay), over realistic groups of 10^6, 10^9 and
// 10^12 articles and several day counts. The fast search runs once with the
// server offering HDR and once with a server that knows no CAPABILITIES.
//
// Per search: round trips as the run reports them (median, most), the
// search's wall time (the run's, less that of a run whose group is unknown:
// the same start, connection, GROUP and goodbye, no search), and that time
// over round trips x 20 ms (median, most; goal: at most 1.1).
//
// Usage: bench_search_server [profiles per size, default 6]
// Runs `pointwind --days N --dry-run --json --search fast|halve` (the
// program beside it in the build folder, or POINTWIND_BIN).
#include "SearchBench.h"

#include "support/NntpTestServer.h"
#include "support/RealisticGroup.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cstdio>
#include <cstdlib>

using namespace SearchBench;
using TestSupport::NntpCapabilities;

namespace
{

constexpr int DelayMs = 20;

struct Column {
    QList<double> rounds, searchMs, ratio;
};

// The wall time of a run that connects, selects a group the server does not
// have and leaves: what every run costs besides its search.
double FixedMs(TestSupport::NntpTestServer &server, const QString &unknownFile)
{
    QList<double> ms;
    for (int i = 0; i < 5; ++i)
        ms << RunCommandLine(server, 1, QStringLiteral("fast"), {unknownFile}).wallMs;
    return Median(ms);
}

void Add(Column &column, const Run &run, double fixedMs, const QString &group, const char *what)
{
    if (!run.ok || run.rounds.isEmpty()) {
        std::printf("  %s %s: %s\n", qPrintable(group), what, qPrintable(run.error));
        return;
    }
    const double searchMs = std::max(0.0, run.wallMs - fixedMs);
    column.rounds << run.rounds.first();
    column.searchMs << searchMs;
    if (run.rounds.first() > 0)
        column.ratio << searchMs / (run.rounds.first() * DelayMs);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int profiles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 6;
    std::printf("%d realistic group profiles per size, %d ms reply delay, through the command "
                "line; rt = round trips, ms = the search's wall time, x = ms / (rt * %d ms)\n",
                profiles, DelayMs, DelayMs);
    std::printf("%-8s %-4s | %-32s | %-32s | %-13s\n", "", "", "fast, HDR offered",
                "fast, no CAPABILITIES", "halve");
    std::printf("%-8s %-4s | %4s %4s %6s %6s %6s | %4s %4s %6s %6s %6s | %4s %8s\n", "articles",
                "days", "rt", "max", "ms", "x", "x max", "rt", "max", "ms", "x", "x max", "rt",
                "ms");
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QList<double> allRatios;
    for (qint64 size : {qint64(1000000), qint64(1000000000), qint64(1000000000000)}) {
        TestSupport::NntpTestServer server;
        QStringList groups;
        for (int s = 1; s <= profiles; ++s) {
            groups << QStringLiteral("alt.bench.n%1.p%2").arg(size).arg(s);
            const TestSupport::RealisticGroup g(
                TestSupport::RealisticProfile::Random(quint64(size) ^ quint64(s), size, now));
            server.AddGroup(g.ForServer(groups.last().toLatin1()));
        }
        server.SetReplyDelay(DelayMs);
        if (!server.Start()) {
            std::printf("the test server did not start\n");
            return 1;
        }
        const QStringList files = MakeGroupFiles(groups);
        const QString unknown = MakeGroupFiles({QStringLiteral("alt.bench.unknown")}).first();
        server.SetCapabilities(NntpCapabilities::Hdr);
        const double fixedHdr = FixedMs(server, unknown);
        server.SetCapabilities(NntpCapabilities::Unknown);
        const double fixedPlain = FixedMs(server, unknown);
        for (int days : {1, 7, 30, 365}) {
            Column hdr, plain, halve;
            for (int i = 0; i < groups.size(); ++i) {
                server.SetCapabilities(NntpCapabilities::Hdr);
                Add(hdr, RunCommandLine(server, days, QStringLiteral("fast"), {files[i]}), fixedHdr,
                    groups[i], "fast, HDR");
                server.SetCapabilities(NntpCapabilities::Unknown);
                Add(plain, RunCommandLine(server, days, QStringLiteral("fast"), {files[i]}),
                    fixedPlain, groups[i], "fast");
                Add(halve, RunCommandLine(server, days, QStringLiteral("halve"), {files[i]}),
                    fixedPlain, groups[i], "halve");
            }
            allRatios << hdr.ratio << plain.ratio;
            std::printf("%-8.0e %-4d | %4.0f %4.0f %6.0f %6.2f %6.2f | %4.0f %4.0f %6.0f %6.2f "
                        "%6.2f | %4.0f %8.0f\n",
                        double(size), days, Median(hdr.rounds), Max(hdr.rounds),
                        Median(hdr.searchMs), Median(hdr.ratio), Max(hdr.ratio),
                        Median(plain.rounds), Max(plain.rounds), Median(plain.searchMs),
                        Median(plain.ratio), Max(plain.ratio), Median(halve.rounds),
                        Median(halve.searchMs));
            std::fflush(stdout);
        }
        std::printf("%-8s fixed part of a run (start, connection, GROUP, goodbye): %.0f ms with "
                    "HDR, %.0f ms without\n",
                    "", fixedHdr, fixedPlain);
    }
    std::printf("fast search, all sizes: x median %.2f, most %.2f (goal: at most 1.1)\n",
                Median(allRatios), Max(allRatios));
    return 0;
}
