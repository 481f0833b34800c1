#include "cache/modFile.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace modFile
{
namespace
{

int AskWithMessageBox(const QString &text)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QGuiApplication::applicationDisplayName());
    box.setIcon(QMessageBox::NoIcon);
    // The question carries CR LF line ends; the box wants plain LF.
    box.setText(QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return AnswerYes;
    case QMessageBox::No:
        return AnswerNo;
    default:
        return AnswerCancel;
    }
}

QuestionFunction &BackupQuestion()
{
    static QuestionFunction question = AskWithMessageBox;
    return question;
}

qsizetype LastSeparator(const QString &path)
{
    return std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
}

// Copy buffer size: large enough that system calls do not dominate, small
// enough that memory stays flat for files of any size.
constexpr qint64 kCopyChunk = 1 << 20;

// More links in a row than this are taken for a loop.
constexpr int kMaxLinkHops = 40;

// The file a write to path lands in: symbolic links are followed, also to a
// file that does not exist yet, so that the links themselves stay. Empty
// for a loop of links.
QString WriteTarget(const QString &path)
{
    QString target = FileSystemPath(path);
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        const QFileInfo info(target);
        if (!info.isSymLink())
            return target;
        target = info.symLinkTarget();
    }
    return QString();
}

QString TemporaryPathOfTarget(const QString &target)
{
    const QFileInfo info(target);
    return info.path() + QLatin1String("/.") + info.fileName() + QLatin1String(".pointwind-tmp");
}

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

QuestionFunction SetBackupQuestion(QuestionFunction question)
{
    QuestionFunction previous = BackupQuestion();
    BackupQuestion() = question ? std::move(question) : QuestionFunction(AskWithMessageBox);
    return previous;
}

QString FileSystemPath(const QString &path)
{
    return QString(path).replace(QLatin1Char('\\'), QLatin1Char('/'));
}

bool FileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(FileSystemPath(path));
    return info.exists() && !info.isDir();
}

QString FolderOfPath(const QString &path)
{
    const qsizetype k = LastSeparator(path);
    return k < 0 ? QString() : path.left(k);
}

QString FileNameOfPath(const QString &path)
{
    return path.mid(LastSeparator(path) + 1);
}

bool WriteAll(QFile &file, const char *data, qint64 len)
{
    while (len > 0) {
        const qint64 written = file.write(data, len);
        if (written <= 0)
            return false;
        data += written;
        len -= written;
    }
    return true;
}

QString TemporaryPathFor(const QString &path)
{
    const QString target = WriteTarget(path);
    return target.isEmpty() ? QString() : TemporaryPathOfTarget(target);
}

bool ReplaceFileSafely(const QString &path, const std::function<bool(QFile &)> &writeBody)
{
    const QString target = WriteTarget(path);
    if (target.isEmpty())
        return false;
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
    const QByteArray temp = QFile::encodeName(TemporaryPathOfTarget(target));
    const int fd = CreateTemporary(temp, exists ? 0600 : 0666);
    if (fd < 0)
        return false;
    QFile file;
    // Unbuffered, so that a short write shows in the result of the write
    // itself instead of vanishing into a later flush.
    bool ok =
        file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle) &&
        writeBody(file) && file.flush() && file.error() == QFileDevice::NoError;
    file.close();
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

qint16 BackupFile(const QString &path)
{
    const QString backupName = path + QLatin1String(".bak");
    if (FileExists(backupName)) {
        const int answer = BackupQuestion()(
            backupName + QLatin1String(" already exists.\r\nDo you want to overwrite it?"));
        if (answer == AnswerNo)
            return AnswerNo;
        if (answer != AnswerYes)
            return -1;
    }
    // The earlier backup is replaced only by a complete copy, so a failed
    // copy never costs the user the backup they had.
    QFile source(FileSystemPath(path));
    if (!source.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || QFileInfo(source).isDir())
        return 0;
    const bool copied = ReplaceFileSafely(backupName, [&source](QFile &out) {
        std::vector<char> buffer(kCopyChunk);
        for (;;) {
            const qint64 got = source.read(buffer.data(), kCopyChunk);
            if (got < 0)
                return false;
            if (got == 0)
                return true;
            if (!WriteAll(out, buffer.data(), got))
                return false;
        }
    });
    return copied ? AnswerYes : 0;
}

} // namespace modFile
