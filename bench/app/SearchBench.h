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
    double wallMs = 0;   // start to end, connection and login included
    QList<int> requests; // per file, as the run reported it
};

// The program's path: POINTWIND_BIN, else `pointwind` in the build folder.
QString ProgramPath();

// One run of the command line over the given files (named <group>.nc1).
Run RunCommandLine(TestSupport::NntpTestServer &server, int days, const QString &search,
                   const QStringList &files);

// Writes a group cache file for each group into a new temporary folder.
QStringList MakeGroupFiles(const QStringList &groups);

double Median(QList<double> values);
double Max(const QList<double> &values);

} // namespace SearchBench
