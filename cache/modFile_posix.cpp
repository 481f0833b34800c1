// The crash-safe replacement on POSIX systems: a temporary file locked with
// flock while it is written, fdatasync, rename over the old file and fsync
// of the folder.
#include "cache/modFile.h"
#include "cache/modFile_os.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace modFile
{
namespace
{

// Whether the open file is still the one the name stands for.
bool IsNamedBy(int fd, const QByteArray &name)
{
    struct stat opened = {}, named = {};
    return ::fstat(fd, &opened) == 0 && ::lstat(name.constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// A temporary file whose writer is gone holds no lock: it is removed. True
// when the name may be tried again, false when another writer is at work
// or the file is not one of ours to remove.
bool RemoveStaleTemporary(const QByteArray &temp)
{
    const int fd = ::open(temp.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT;
    struct stat st = {};
    bool retry = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // Its writer may have put it in place just before the lock was taken.
        if (!IsNamedBy(fd, temp) || ::unlink(temp.constData()) == 0 || errno == ENOENT)
            retry = true;
    }
    ::close(fd);
    return retry;
}

// Creates the temporary file and locks it for as long as it is open, so
// that a second writer neither removes nor shares it. -1 on failure.
int CreateTemporary(const QByteArray &temp, mode_t mode)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno != EEXIST || !RemoveStaleTemporary(temp))
                return -1;
            continue;
        }
        // Between creation and lock another writer may have taken the file
        // for a stale one and removed it.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && IsNamedBy(fd, temp))
            return fd;
        ::close(fd);
    }
    return -1;
}

// Makes a rename in the folder last through a power cut; a failure here
// no longer changes what the caller has.
void SyncFolder(const QString &folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

namespace os
{

bool ReplaceThroughTemporary(const QString &target, const QString &tempPath,
                             const std::function<bool(QFile &)> &writeBody)
{
    const QByteArray targetName = QFile::encodeName(target);
    struct stat existing = {};
    const bool exists = ::stat(targetName.constData(), &existing) == 0;
    if (!exists && errno != ENOENT)
        return false;
    // Only a plain file the user may change is replaced.
    if (exists && (!S_ISREG(existing.st_mode) || ::access(targetName.constData(), W_OK) != 0))
        return false;

    // Named and visible only to us while it is written. Its name is fixed,
    // so that what a killed write left is found and taken over by the next
    // one instead of piling up beside the file.
    const QByteArray temp = QFile::encodeName(tempPath);
    const int fd = CreateTemporary(temp, exists ? 0600 : 0666);
    if (fd < 0)
        return false;
    bool ok = WriteBodyTo(fd, writeBody);
    if (ok && exists)
        ok = ::fchmod(fd, existing.st_mode & 07777) == 0;
    // Only a file whose bytes are all on disk may replace the old one.
    if (ok && ::fdatasync(fd) != 0 && errno != EINVAL)
        ok = false;
    if (ok)
        ok = ::rename(temp.constData(), targetName.constData()) == 0;
    if (!ok)
        ::unlink(temp.constData()); // still locked, so still ours
    ::close(fd);
    if (ok)
        SyncFolder(QFileInfo(target).path());
    return ok;
}

// Any open file can be renamed over here.
bool HeldOpenElsewhere(const QString &)
{
    return false;
}

} // namespace os

void AdviseSequentialReading(const QFile &file)
{
    ::posix_fadvise(file.handle(), 0, 0, POSIX_FADV_SEQUENTIAL);
}

} // namespace modFile
