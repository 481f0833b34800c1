// Whole reset runs through the main window (offscreen) against the scripted
// news server, for groups of 10^3 to 10^12 articles and with 0 and 20 ms of
// reply delay. Prints per run: the HEAD requests sent beside ceil(log2 n) + 3,
// the total time from "Go" to "Finished!", that time over the round trips
// times the delay, and the longest time the UI thread was busy in one go.
#include "app/frmReader.h"
#include "support/ModalDriver.h"
#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace
{

// The longest stretch the UI thread could not serve a 1 ms heartbeat: the
// gap between two ticks, less the period itself.
class StallMeter
{
  public:
    StallMeter()
    {
        m_heartbeat.setTimerType(Qt::PreciseTimer);
        m_heartbeat.setInterval(1);
        QObject::connect(&m_heartbeat, &QTimer::timeout, [this] {
            if (m_since.isValid())
                m_longestNs = std::max(m_longestNs, m_since.nsecsElapsed() - 1000000);
            m_since.start();
        });
        m_heartbeat.start();
    }
    void Reset()
    {
        m_longestNs = 0;
        m_since.invalidate();
    }
    double LongestMs() const { return m_longestNs / 1e6; }

  private:
    QTimer m_heartbeat;
    QElapsedTimer m_since;
    qint64 m_longestNs = 0;
};

struct Result {
    bool ok = false;
    int heads = 0;
    int roundTrips = 0;
    double totalMs = 0;
    double stallMs = 0;       // the whole run
    double searchMs = 0;      // "Go" to "ID founded!"
    double searchStallMs = 0; // longest stall up to "ID founded!"
};

Result RunOnce(qint64 articles, int delayMs, StallMeter &meter)
{
    Result result;
    const qint64 now = std::time(nullptr);
    TestSupport::NntpTestServer server;
    // The group spans 120 days. The run asks for more days than that, so
    // that no exact match cuts the search short: every run halves down to
    // the lowest article, the longest search the group allows.
    server.AddGroup(
        TestSupport::NntpArticleGroup::Spread("alt.bench", 1, articles, now - 120 * 86400, now));
    server.SetReplyDelay(delayMs);
    if (!TestSupport::StartOnSettingsPort(server))
        return result;
    TestSupport::UseFreshSettingsFolder();
    TestSupport::StoreServerSettings(QStringLiteral("127.0.0.1"), server.Port());
    const QString file = TestSupport::MakeTempFolder() + QStringLiteral("/alt.bench.nc1");
    if (!TestSupport::WriteSampleGroupFile(file, QStringLiteral("1")))
        return result;

    frmReader window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window) || !TestSupport::OpenGroupFile(window, file))
        return result;
    window.findChild<QLineEdit *>(QStringLiteral("Text2"))->setText(QStringLiteral("999"));
    auto *go = window.findChild<QPushButton *>(QStringLiteral("Command1"));
    QApplication::processEvents();

    QElapsedTimer clock;
    // The search ends where the run logs "ID founded!"; what follows is the
    // backup copy and the file, written to disk.
    QObject::connect(window.findChild<QTreeWidget *>(QStringLiteral("lstLog"))->model(),
                     &QAbstractItemModel::rowsInserted, &window, [&] {
                         if (result.searchMs == 0 && TestSupport::LogMessages(window).last() ==
                                                         QLatin1String("ID founded!")) {
                             result.searchMs = clock.nsecsElapsed() / 1e6;
                             result.searchStallMs = meter.LongestMs();
                         }
                     });
    meter.Reset();
    clock.start();
    go->click();
    // A real event loop, as the program runs: QTest's waits sleep between
    // looks and would be measured too.
    QEventLoop loop;
    QTimer look;
    look.setTimerType(Qt::PreciseTimer);
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (go->text() == QLatin1String("Finished!")) {
            result.ok = true;
            loop.quit();
        }
    });
    look.start(1);
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    loop.exec();
    result.totalMs = clock.nsecsElapsed() / 1e6;
    result.stallMs = meter.LongestMs();
    for (const QByteArray &line : server.ReceivedLines()) {
        if (line.startsWith("HEAD "))
            ++result.heads;
        if (!line.startsWith("QUIT"))
            ++result.roundTrips;
    }
    ++result.roundTrips; // the greeting
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    StallMeter meter;

    std::printf("%-8s %5s %5s %9s %11s %9s %6s %13s %13s %13s %10s\n", "articles", "delay", "HEADs",
                "log2(n)+3", "round trips", "total ms", "ratio", "search ms", "search ratio",
                "search stall", "stall ms");
    int failures = 0;
    for (int delay : {0, 20}) {
        for (qint64 articles :
             {qint64(1000), qint64(1000000), qint64(1000000000), qint64(1000000000000)}) {
            const Result r = RunOnce(articles, delay, meter);
            const int bound = int(std::ceil(std::log2(double(articles)))) + 3;
            char ratio[32] = "-", searchRatio[32] = "-";
            if (delay > 0) {
                std::snprintf(ratio, sizeof ratio, "%.3f", r.totalMs / (r.roundTrips * delay));
                std::snprintf(searchRatio, sizeof searchRatio, "%.3f",
                              r.searchMs / (r.roundTrips * delay));
            }
            std::printf(
                "%-8s %5d %5d %9d %11d %9.1f %6s %13.1f %13s %13.2f %10.2f%s\n",
                qPrintable(QStringLiteral("10^%1").arg(std::lround(std::log10(double(articles))))),
                delay, r.heads, bound, r.roundTrips, r.totalMs, ratio, r.searchMs, searchRatio,
                r.searchStallMs, r.stallMs, r.ok ? "" : "  (did not finish)");
            std::fflush(stdout);
            failures += r.ok ? 0 : 1;
        }
    }
    std::printf("round trips: the greeting, GROUP and every HEAD (the QUIT after the file is "
                "written is not waited for); ratio: time / (round trips x delay); stalls in ms: "
                "the longest time the UI thread was busy in one go.\n");
    return failures ? 1 : 0;
}
