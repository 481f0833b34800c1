#include "cache/modFile.h"

#include "cache/modFile_os.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

#include <algorithm>
#include <vector>

namespace modFile
{
namespace
{

int AskPlainly(const QString &text)
{
    return AskWithMessageBox(text);
}

QuestionFunction &BackupQuestion()
{
    static QuestionFunction question = AskPlainly;
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

} // namespace

int AskWithMessageBox(const QString &text, bool *forAll)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QGuiApplication::applicationDisplayName());
    box.setIcon(QMessageBox::NoIcon);
    // The question carries CR LF line ends; the box wants plain LF.
    box.setText(QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    if (forAll)
        buttons |= QMessageBox::YesToAll | QMessageBox::NoToAll;
    box.setStandardButtons(buttons);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    const int button = box.exec();
    if (forAll)
        *forAll = button == QMessageBox::YesToAll || button == QMessageBox::NoToAll;
    switch (button) {
    case QMessageBox::Yes:
    case QMessageBox::YesToAll:
        return AnswerYes;
    case QMessageBox::No:
    case QMessageBox::NoToAll:
        return AnswerNo;
    default:
        return AnswerCancel;
    }
}

QuestionFunction SetBackupQuestion(QuestionFunction question)
{
    QuestionFunction previous = BackupQuestion();
    BackupQuestion() = question ? std::move(question) : QuestionFunction(AskPlainly);
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
    return !target.isEmpty() &&
           os::ReplaceThroughTemporary(target, TemporaryPathOfTarget(target), writeBody);
}

bool WriteBodyTo(int fd, const std::function<bool(QFile &)> &writeBody)
{
    QFile file;
    // Unbuffered, so that a short write shows in the result of the write
    // itself instead of vanishing into a later flush.
    const bool ok =
        file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle) &&
        writeBody(file) && file.flush() && file.error() == QFileDevice::NoError;
    file.close();
    return ok;
}

bool InUseByAnotherProgram(const QString &path)
{
    const QString target = WriteTarget(path);
    return !target.isEmpty() && os::HeldOpenElsewhere(target);
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
