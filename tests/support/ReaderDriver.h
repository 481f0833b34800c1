#pragma once
// Drives the main window the way a user does, for the tests and benchmarks
// of the reset run: server settings in the store, a group cache file opened
// through the real open dialog, the log read back without its times.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QWidget>

class frmReader;
class QFileDialog;
class QTreeWidgetItem;

namespace TestSupport
{

class NntpTestServer;

// Starts the server on a free loopback port (of ::1 with ipv6) that the
// program's settings can hold (1 to 32767): the kernel's own choice lies
// above that range.
bool StartOnSettingsPort(NntpTestServer &server, bool ipv6 = false);

// Stores the server settings a run reads ("Login" "0" when user is empty).
void StoreServerSettings(const QString &server, int port, const QString &user = QString(),
                         const QString &password = QString());

// Chooses `path` in an open file dialog, or cancels it when `path` is empty.
void AnswerFileDialog(QFileDialog *dialog, const QString &path);

// Opens `path` with the window's open button, answering its file dialog.
// False when no dialog appeared or the window did not take the file.
bool OpenGroupFile(frmReader &window, const QString &path);

// The log's messages in order, each without the time and its space.
QStringList LogMessages(const frmReader &window);
// The image-list key of each row's icon, in order.
QStringList LogIconKeys(const frmReader &window);

// The file's bytes, or "<missing>".
QByteArray ReadAll(const QString &path);

// The group cache file a finished run must leave, worked out byte by byte.
QByteArray ExpectedGroupFile(const QByteArray &lu, const QByteArray &server, qint64 pointer);

// The window's control of that name; a missing one ends the test program.
template <class T> T *Control(const QWidget &window, const char *name)
{
    T *control = window.findChild<T *>(QLatin1String(name));
    if (!control)
        qFatal("no control %s", name);
    return control;
}

// Writes a small group cache file that names `lu` as its lu value.
bool WriteSampleGroupFile(const QString &path, const QString &lu);

} // namespace TestSupport
