#pragma once
// Small path and file helpers: existence test, path parts, the backup copy
// of a group cache file, and the crash-safe file replacement they share
// with the group cache writer. Paths may use "\" or "/" as separators; on
// Windows they may hold any character and be longer than 260 characters.
#include <QString>
#include <functional>

class QFile;

namespace modFile
{

// The answers of the backup question, numbered as the message box answers
// the rest of the program compares against.
enum Answer : int { AnswerCancel = 2, AnswerYes = 6, AnswerNo = 7 };

// Asks a Yes/No/Cancel question and returns one of the Answer values. The
// default shows a real message box; tests put their own in its place.
using QuestionFunction = std::function<int(const QString &text)>;

// The question as a message box, the default. With `forAll` it also
// offers "Yes to All" and "No to All" and tells through *forAll whether one
// of those was the answer (given as AnswerYes or AnswerNo).
int AskWithMessageBox(const QString &text, bool *forAll = nullptr);

// Replaces the question used by BackupFile and returns the one it replaced.
// An empty function restores the message box.
QuestionFunction SetBackupQuestion(QuestionFunction question);

bool FileExists(const QString &path);
QString FolderOfPath(const QString &path);
QString FileNameOfPath(const QString &path);

// Copies the file at path to path + ".bak". Returns 6 when the copy was
// made, 7 when the user chose to keep an existing backup, -1 on Cancel and
// 0 when the copy failed (any earlier backup is then left as it was).
qint16 BackupFile(const QString &path);

// The path as the file system wants it: "\" becomes "/".
QString FileSystemPath(const QString &path);

// Writes a file through a temporary file beside it and puts it in place only
// when writeBody succeeded and every byte reached the disk; otherwise the
// file at path is left exactly as it was. A symbolic link at path stays and
// the file it points to is replaced. writeBody must write with WriteAll.
// A process killed at any moment leaves the old file or the new one, never
// a mix; at worst its temporary file stays, and the next write of the same
// file takes that over. Fails while another process writes the same file.
bool ReplaceFileSafely(const QString &path, const std::function<bool(QFile &)> &writeBody);

// The temporary file ReplaceFileSafely uses for path: hidden, in the folder
// of the file that is really written, one name per file.
QString TemporaryPathFor(const QString &path);

// Writes all len bytes or reports failure; a short write counts as failure.
bool WriteAll(QFile &file, const char *data, qint64 len);

// Whether another program holds the file (the one a write to path lands
// in) open so that it cannot be replaced now: on Windows, a running
// newsreader. Always false where an open file can be replaced.
bool InUseByAnotherProgram(const QString &path);

// Tells the system that the open file is about to be read once from start
// to end, so that it reads ahead further.
void AdviseSequentialReading(const QFile &file);

} // namespace modFile
