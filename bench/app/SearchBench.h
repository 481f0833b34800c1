#pragma once
// What the search benchmarks share: reset runs against the in-process test
// server through the command line (`pointwind --days N --dry-run --json
// --search fast|halve ...`, run as a process), so that they measure the
// engine the user runs.
#include <QList>
#include <QString>
#include <QStringList>

namespace TestSupport
{
class NntpTestServer;
}

namespace SearchBench
{

struct Run {
    bool ok = false;
    QString error;
    int heads = 0;       // HEAD requests the server received
    int ranges = 0;      // HDR/XHDR Date range requests it received
    double wallMs = 0;   // start to end, connection and login included
    QList<int> requests; // per file, as the run reported it
    QList<int> rounds;   // per file: the search's waits for replies
    int connections = 0; // as the run reported them
};

// The program's path: POINTWIND_BIN, else `pointwind` in the build folder.
QString ProgramPath();

// One run of the command line over the given files (named <group>.nc1).
// `extra` goes before the files (e.g. --connections 4).
Run RunCommandLine(TestSupport::NntpTestServer &server, int days, const QString &search,
                   const QStringList &files, const QStringList &extra = {});

// Writes a group cache file for each group into a new temporary folder.
QStringList MakeGroupFiles(const QStringList &groups);

double Median(QList<double> values);
double Max(const QList<double> &values);

} // namespace SearchBench
