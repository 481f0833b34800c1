// Rewrites a large group cache file that holds no lu line, so the whole old
// file is read, and prints the time, the throughput and the peak memory next
// to what `cat FILE > /dev/null` takes on the same file.
//   bench_groupcache [size in MB, default 500] [folder, default the temp folder]
#include "cache/modNBZ.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace
{

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Header-like lines with CR ends, some with "=" in them, none with a key.
bool MakeOldFile(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block;
    for (int n = 0; block.size() < (1 << 20); ++n)
        block += "12" + QByteArray::number(n) +
                 "\tRe: =?ISO-8859-1?Q?some_subject?= part (01/42)\tposter@example.invalid\t<" +
                 QByteArray::number(n * 7919) + "@news>\r";
    for (qint64 done = 0; done < bytes;) {
        const qint64 take = std::min<qint64>(block.size(), bytes - done);
        if (file.write(block.constData(), take) != take)
            return false;
        done += take;
    }
    return file.flush();
}

double TimeCat(const QString &path)
{
    const QByteArray command = "cat '" + QFile::encodeName(path) + "' > /dev/null";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.constData()) != 0)
        return -1;
    return Seconds(start);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? std::atoll(argv[1]) : 500;
    QTemporaryDir folder(argc > 2 ? QString::fromLocal8Bit(argv[2]) + "/bench-XXXXXX" : QString());
    if (megabytes <= 0 || !folder.isValid()) {
        std::fprintf(stderr, "usage: bench_groupcache [MB] [folder]\n");
        return 2;
    }
    const QString path = folder.filePath("alt.bench.nc1");
    const qint64 bytes = megabytes * 1000 * 1000;
    if (!MakeOldFile(path, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    const long rssBefore = PeakRssKiB();

    // Same footing for both: the file is in the page cache.
    TimeCat(path);
    double cat = 1e9;
    for (int i = 0; i < 3; ++i)
        cat = std::min(cat, TimeCat(path));

    double readOnly = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        QString lu;
        modNBZ::ReadLuValue(path, lu);
        readOnly = std::min(readOnly, Seconds(start));
    }

    const auto start = std::chrono::steady_clock::now();
    const int result =
        modNBZ::WriteGroupCacheFile(path, QStringLiteral("news.example.invalid"), 3000000000.0);
    const double rewrite = Seconds(start);
    const qint64 newSize = QFileInfo(path).size();

    const double mb = bytes / 1e6;
    std::printf("old file              %.0f MB, no lu line\n", mb);
    std::printf("result                %d (new file %lld bytes)\n", result,
                static_cast<long long>(newSize));
    std::printf("rewrite               %.3f s, %.0f MB/s\n", rewrite, mb / rewrite);
    std::printf("lu scan (best of 3)   %.3f s, %.0f MB/s\n", readOnly, mb / readOnly);
    std::printf("cat > /dev/null       %.3f s, %.0f MB/s (best of 3)\n", cat, mb / cat);
    std::printf("ratio rewrite/cat     %.2f (goal >= 0.5)\n", (mb / rewrite) / (mb / cat));
    std::printf("peak RSS              %.1f MB (%.1f MB before the rewrite; goal < 32 MB)\n",
                PeakRssKiB() / 1024.0, rssBefore / 1024.0);
    // The temporary folder and the file in it go when `folder` does.
    return result == 1 ? 0 : 1;
}
