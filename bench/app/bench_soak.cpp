// 500 reset runs back to back in one process, through one main window,
// against the scripted news server (a group of 10^6 articles, the backup copy
// made every run). Prints resident memory and open descriptors after run 10
// and run 500: neither should grow once the first runs have warmed up.
//
// The log is emptied after every run: its rows are the user's history and
// are meant to stay, so they would hide a leak of the run itself. Arguments:
// the number of runs (500), and "keep-log" to see what the rows cost.
#include "app/frmReader.h"
#include "cache/modFile.h"
#include "support/ModalDriver.h"
#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <ctime>

namespace
{

qint64 ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

qsizetype OpenDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestSupport::UseFreshSettingsFolder();
    QApplication app(argc, argv);
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 500;
    const bool keepLog = argc > 2 && QByteArray(argv[2]) == "keep-log";

    const qint64 now = std::time(nullptr);
    TestSupport::NntpTestServer server;
    server.AddGroup(TestSupport::NntpArticleGroup::Spread("alt.soak", 1000, 1001000,
                                                          now - 2000 * 86400, now - 43200));
    server.SetLogin("reader", "secret", true);
    if (!TestSupport::StartOnSettingsPort(server)) {
        std::printf("the server did not start\n");
        return 1;
    }
    TestSupport::StoreServerSettings(QStringLiteral("127.0.0.1"), server.Port(),
                                     QStringLiteral("reader"), QStringLiteral("secret"));
    const QString file = TestSupport::MakeTempFolder() + QStringLiteral("/alt.soak.nc1");
    if (!TestSupport::WriteSampleGroupFile(file, QStringLiteral("1")))
        return 1;
    modFile::SetBackupQuestion([](const QString &) { return int(modFile::AnswerYes); });

    frmReader window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window) || !TestSupport::OpenGroupFile(window, file)) {
        std::printf("the window or its file did not open\n");
        return 1;
    }
    window.findChild<QLineEdit *>(QStringLiteral("Text2"))->setText(QStringLiteral("4"));
    auto *go = window.findChild<QPushButton *>(QStringLiteral("Command1"));
    auto *log = window.findChild<QTreeWidget *>(QStringLiteral("lstLog"));

    std::printf("%5s %12s %12s %11s %9s\n", "run", "resident KiB", "descriptors", "connections",
                "total s");
    QElapsedTimer clock;
    clock.start();
    for (int run = 1; run <= runs; ++run) {
        go->click();
        // Finished, and the goodbye handled: the connection is gone on both
        // sides before the next run starts. A real event loop, as the
        // program runs: QTest's waits sleep between looks.
        QEventLoop loop;
        QTimer look;
        bool finished = false;
        QObject::connect(&look, &QTimer::timeout, [&] {
            finished = go->text() == QLatin1String("Finished!") && server.OpenConnections() == 0;
            if (finished)
                loop.quit();
        });
        look.start(1);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        if (!finished) {
            std::printf("run %d did not finish: %s\n", run,
                        qPrintable(TestSupport::LogMessages(window).join(QLatin1String(" | "))));
            return 1;
        }
        if (!keepLog)
            log->clear();
        server.ClearReceivedLines(); // the server's record, not ours
        if (run == 1 || run == 10 || run % 100 == 0 || run == runs) {
            // Objects dropped with deleteLater go now, as they would while
            // the user looks at the result.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            std::printf("%5d %12lld %12lld %11d %9.1f\n", run, ResidentKiB(),
                        qint64(OpenDescriptors()), server.ConnectionCount(),
                        clock.elapsed() / 1000.0);
            std::fflush(stdout);
        }
    }
    modFile::SetBackupQuestion({});
    return 0;
}
