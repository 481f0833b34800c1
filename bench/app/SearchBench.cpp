#include "SearchBench.h"

#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <algorithm>

namespace SearchBench
{

namespace
{

int CountHeads(const TestSupport::NntpTestServer &server)
{
    int heads = 0;
    for (const QByteArray &line : server.ReceivedLines())
        heads += line.startsWith("HEAD ") ? 1 : 0;
    return heads;
}

} // namespace

QString ProgramPath()
{
    const QString given = qEnvironmentVariable("POINTWIND_BIN");
    if (!given.isEmpty())
        return given;
    // bench/app/<this program> in the build folder; the program is at its top.
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../../pointwind");
}

QStringList MakeGroupFiles(const QStringList &groups)
{
    const QString folder = TestSupport::MakeTempFolder();
    QStringList files;
    for (const QString &group : groups) {
        files << folder + QLatin1Char('/') + group + QStringLiteral(".nc1");
        TestSupport::WriteSampleGroupFile(files.last(), QStringLiteral("1"));
    }
    return files;
}

Run RunCommandLine(TestSupport::NntpTestServer &server, int days, const QString &search,
                   const QStringList &files, const QStringList &extra)
{
    Run run;
    server.ClearReceivedLines();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // An empty settings store: everything the run needs is on its line.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), TestSupport::MakeTempFolder());
    env.remove(QStringLiteral("POINTWIND_PASSWORD"));
    p.setProcessEnvironment(env);
    QStringList args = {QStringLiteral("--days"),    QString::number(days),
                        QStringLiteral("--dry-run"), QStringLiteral("--json"),
                        QStringLiteral("--search"),  search,
                        QStringLiteral("--server"),  QStringLiteral("127.0.0.1"),
                        QStringLiteral("--port"),    QString::number(server.Port())};
    args += extra;
    args += files;
    QElapsedTimer clock;
    clock.start();
    p.start(ProgramPath(), args);
    if (!p.waitForFinished(3600000)) {
        run.error = QStringLiteral("the program did not finish");
        return run;
    }
    run.wallMs = double(clock.nsecsElapsed()) / 1e6;
    run.heads = CountHeads(server);
    for (const QByteArray &line : server.ReceivedLines())
        run.ranges += line.startsWith("HDR ") || line.startsWith("XHDR ") ? 1 : 0;
    const QJsonObject summary = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    for (const QJsonValue &f : summary.value(QStringLiteral("files")).toArray()) {
        run.requests << f.toObject().value(QStringLiteral("requests")).toInt();
        run.rounds << f.toObject().value(QStringLiteral("rounds")).toInt();
    }
    run.connections = summary.value(QStringLiteral("connections")).toInt();
    run.ok = p.exitCode() == 0 && run.requests.size() == files.size();
    if (!run.ok)
        run.error = QStringLiteral("exit %1: %2")
                        .arg(p.exitCode())
                        .arg(QString::fromLocal8Bit(p.readAllStandardError()).left(200));
    return run;
}

double Median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Max(const QList<double> &values)
{
    return values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end());
}

} // namespace SearchBench
