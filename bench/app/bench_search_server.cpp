// The fast search beside halving against the test server with a 20 ms reply
// delay, over realistic groups of 10^6, 10^9 and 10^12 articles and several
// day counts: HEAD requests per group (median and most) and wall time per
// run (median), the whole run of the program from start to exit.
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

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int profiles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 6;
    const int delayMs = 20;
    std::printf("%d realistic group profiles per size, %d ms reply delay, through the command "
                "line\n",
                profiles, delayMs);
    std::printf("%-8s %-5s | %-26s | %-26s\n", "", "", "fast", "halve");
    std::printf("%-8s %-5s | %-8s %-8s %-8s | %-8s %-8s %-8s\n", "articles", "days", "HEAD med",
                "HEAD max", "wall ms", "HEAD med", "HEAD max", "wall ms");
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (qint64 size : {qint64(1000000), qint64(1000000000), qint64(1000000000000)}) {
        TestSupport::NntpTestServer server;
        QStringList groups;
        for (int s = 1; s <= profiles; ++s) {
            groups << QStringLiteral("alt.bench.n%1.p%2").arg(size).arg(s);
            const TestSupport::RealisticGroup g(
                TestSupport::RealisticProfile::Random(quint64(size) ^ quint64(s), size, now));
            server.AddGroup(g.ForServer(groups.last().toLatin1()));
        }
        server.SetReplyDelay(delayMs);
        if (!server.Start()) {
            std::printf("the test server did not start\n");
            return 1;
        }
        const QStringList files = MakeGroupFiles(groups);
        for (int days : {1, 7, 30, 365}) {
            QList<double> fastHeads, fastMs, halveHeads, halveMs;
            for (int i = 0; i < groups.size(); ++i) {
                const Run fast = RunCommandLine(server, days, QStringLiteral("fast"), {files[i]});
                if (!fast.ok)
                    std::printf("  %s fast: %s\n", qPrintable(groups[i]), qPrintable(fast.error));
                fastHeads << fast.heads;
                fastMs << fast.wallMs;
                const Run halve = RunCommandLine(server, days, QStringLiteral("halve"), {files[i]});
                if (!halve.ok)
                    std::printf("  %s halve: %s\n", qPrintable(groups[i]), qPrintable(halve.error));
                halveHeads << halve.heads;
                halveMs << halve.wallMs;
            }
            std::printf("%-8.0e %-5d | %8.0f %8.0f %8.0f | ", double(size), days, Median(fastHeads),
                        Max(fastHeads), Median(fastMs));
            std::printf("%8.0f %8.0f %8.0f\n", Median(halveHeads), Max(halveHeads),
                        Median(halveMs));
            std::fflush(stdout);
        }
    }
    return 0;
}
