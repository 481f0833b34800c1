#include "cache/modFile.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
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

bool WriteAll(QSaveFile &file, const char *data, qint64 len)
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

bool ReplaceFileSafely(const QString &path, const std::function<bool(QSaveFile &)> &writeBody)
{
    const QString target = FileSystemPath(path);
    if (target.isEmpty() || QFileInfo(target).isDir())
        return false;
    QSaveFile file(target);
    // Unbuffered, so that a short write shows in the result of the write
    // itself instead of vanishing into a later flush.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    bool ok = writeBody(file) && file.flush() && file.error() == QFileDevice::NoError;
    // commit() has been seen to report success after a failed final write;
    // only a file whose bytes are all on disk may replace the old one.
    if (ok && ::fdatasync(file.handle()) != 0 && errno != EINVAL)
        ok = false;
    if (!ok) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
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
    const bool copied = ReplaceFileSafely(backupName, [&source](QSaveFile &out) {
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
