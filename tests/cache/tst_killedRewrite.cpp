// The end of a reset run (backup copy, then the rewritten group cache file)
// killed at random moments: every file is always whole, either as it was or
// as the run meant it to be, and what a killed run leaves behind does not
// stand in the way of the next one.
#include "cache/modFile.h"
#include "cache/modNBZ.h"
#include "support/ChildProcess.h"
#include "support/TestFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <random>
#include <thread>

namespace
{

constexpr int kKills = 200;
constexpr unsigned kSeed = 20261208;
const QString kServer = QStringLiteral("news.example.org");
constexpr double kPointer = 48213377;

// Two MB of cached header lines with the lu value on the last line, so
// that the whole old file is read and copied before anything is written.
QByteArray LargeOldFile()
{
    QByteArray bytes("1234\rnew = 0\rall = 0\rver = 2\r");
    bytes.reserve(2 << 20);
    for (int i = 0; bytes.size() < (2 << 20); ++i)
        bytes += QByteArray::number(i) + "\tRe: a subject\tposter@example.invalid\t1104753600\r";
    return bytes + "lu  = 1104753600\r";
}

int EndOfRun(const QString &path)
{
    if (modFile::BackupFile(path) != modFile::AnswerYes)
        return 1;
    return modNBZ::WriteGroupCacheFile(path, kServer, kPointer) == 1 ? 0 : 2;
}

QStringList FolderEntries(const QString &dir)
{
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class tst_killedRewrite : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase();
    void killedRunLeavesWholeFiles();
};

void tst_killedRewrite::initTestCase()
{
    // Children inherit it: the earlier backup is always replaced.
    modFile::SetBackupQuestion([](const QString &) { return int(modFile::AnswerYes); });
}

void tst_killedRewrite::killedRunLeavesWholeFiles()
{
    const QString dir = TestSupport::MakeTempFolder();
    const QString path = dir + "/alt.binaries.test.nc1";
    const QString backup = path + ".bak";
    const QByteArray old = LargeOldFile();
    const QByteArray earlier("lu=1\rearlier backup\r");
    const QByteArray rewritten = modNBZ::BuildGroupCacheFile("1104753600", kServer, kPointer);
    QVERIFY(!rewritten.isEmpty());
    const QStringList whole{QFileInfo(path).fileName(), QFileInfo(backup).fileName()};

    QByteArray now = "<unwritten>";
    QByteArray backupNow = "<unwritten>";
    auto restore = [&] {
        if (now != old)
            QVERIFY(TestSupport::WriteFileBytes(path, old));
        if (backupNow != earlier)
            QVERIFY(TestSupport::WriteFileBytes(backup, earlier));
        now = old;
        backupNow = earlier;
    };

    // How long a whole run takes here; the kills are spread over a little
    // more than that, so some land after the end.
    std::vector<qint64> spans;
    for (int i = 0; i < 3; ++i) {
        restore();
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(TestSupport::RunInChild([&path] { return EndOfRun(path); }), 0);
        spans.push_back(timer.nsecsElapsed());
        now = backupNow = "<rewritten>";
    }
    std::sort(spans.begin(), spans.end());
    const qint64 span = spans[1];

    std::mt19937 random(kSeed);
    std::uniform_int_distribution<qint64> delay(0, span * 6 / 5);
    int keptOld = 0;
    int gotNew = 0;
    int leftovers = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        restore();
        const int pid = TestSupport::StartChild([&path] { return EndOfRun(path); });
        QVERIFY(pid > 0);
        std::this_thread::sleep_for(std::chrono::nanoseconds(delay(random)));
        ::kill(pid, SIGKILL);
        TestSupport::WaitForChild(pid);

        now = TestSupport::ReadFileBytes(path);
        backupNow = TestSupport::ReadFileBytes(backup);
        const QByteArray what = "kill " + QByteArray::number(kill) + ": ";
        QVERIFY2(now == old || now == rewritten,
                 what + "the group cache file is neither old nor new: " + now.left(40));
        QVERIFY2(backupNow == earlier || backupNow == old,
                 what + "the backup is neither the earlier one nor a copy: " + backupNow.left(40));
        if (now == rewritten)
            QVERIFY2(backupNow == old, what + "rewritten before the backup was complete");
        (now == old ? keptOld : gotNew) += 1;

        // At most one leftover per file being written; the next run takes
        // it over instead of piling up another.
        QStringList others = FolderEntries(dir);
        for (const QString &name : whole)
            QVERIFY2(others.removeOne(name), what + "missing " + name.toUtf8());
        QVERIFY2(others.size() <= 2, what + others.join(' ').toUtf8());
        leftovers += others.size();
    }
    qInfo("seed %u, %d kills over %.1f ms: %d kept the old file, %d found the new one, "
          "%d leftovers",
          kSeed, kKills, span / 1e6, keptOld, gotNew, leftovers);
    QVERIFY2(keptOld > 0 && gotNew > 0, "the kills did not straddle the end of the run");

    // The next run is not disturbed by what the last kill left, and clears it.
    restore();
    QCOMPARE(EndOfRun(path), 0);
    QCOMPARE(TestSupport::ReadFileBytes(path), rewritten);
    QCOMPARE(TestSupport::ReadFileBytes(backup), old);
    QCOMPARE(FolderEntries(dir), whole);
}

QTEST_GUILESS_MAIN(tst_killedRewrite)
#include "tst_killedRewrite.moc"
