#pragma once
// What the search benchmarks share: reset runs against the in-process test
// server, either through the command line (`pointwind --days N --dry-run
// --json --search fast|halve ...`, run as a process) or, where the program
// has no command line yet, through the NNTP client and the fast search
// driven here directly.
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
// True when the program has the command line with a choice of search.
bool HasCommandLine();

// One run of the command line over the given files (named <group>.nc1).
Run RunCommandLine(TestSupport::NntpTestServer &server, int days, const QString &search,
                   const QStringList &files);
// One connection, then GROUP and the fast search for each group.
Run RunDirect(TestSupport::NntpTestServer &server, int days, const QStringList &groups);

// Writes a group cache file for each group into a new temporary folder.
QStringList MakeGroupFiles(const QStringList &groups);

double Median(QList<double> values);
double Max(const QList<double> &values);

} // namespace SearchBench
