#include "app/Console.h"

#include <QDir>
#include <QFileInfo>

#include <iterator>
#include <windows.h>

namespace Console
{

namespace
{

HANDLE StandardHandle(std::FILE *stream)
{
    if (stream == stdin)
        return GetStdHandle(STD_INPUT_HANDLE);
    return GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

bool Usable(HANDLE handle)
{
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Only a console has a console mode. _isatty would also take the NUL device
// for a terminal, and a run fed from it would then wait for answers.
bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return Usable(handle) && GetConsoleMode(handle, &mode);
}

void WriteBytes(HANDLE handle, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.constData() + done, DWORD(bytes.size() - done), &written,
                       nullptr) ||
            written == 0)
            return;
        done += written;
    }
}

// A console takes UTF-16 as it is, whatever its code page, and "\r\n" ends a
// line there in every output mode.
void WriteConsoleText(HANDLE handle, QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    const auto *chars = reinterpret_cast<const wchar_t *>(text.utf16());
    for (qsizetype done = 0; done < text.size();) {
        qsizetype chunk = qMin<qsizetype>(text.size() - done, 8192);
        if (chunk > 1 && text.at(done + chunk - 1).isHighSurrogate())
            --chunk; // a pair is never split between two writes
        DWORD written = 0;
        if (!WriteConsoleW(handle, chars + done, DWORD(chunk), &written, nullptr) || written == 0)
            return;
        done += written;
    }
}

} // namespace

bool IsTerminal(std::FILE *stream)
{
    return IsConsole(StandardHandle(stream));
}

// Files and pipes get UTF-8 with "\n", byte for byte what Linux writes, so
// that scripts and JSON readers see one format and no file name is lost to
// the ANSI code page; the C runtime's text mode (and its "\r\n") is not used.
void Write(std::FILE *stream, const QString &text)
{
    const HANDLE handle = StandardHandle(stream);
    if (IsConsole(handle))
        WriteConsoleText(handle, text);
    else if (Usable(handle))
        WriteBytes(handle, text.toUtf8());
}

QString ReadLine(bool echo)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    QString line;
    DWORD saved = 0;
    if (Usable(input) && GetConsoleMode(input, &saved)) {
        const bool hide = !echo;
        if (hide)
            SetConsoleMode(input, (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) &
                                      ~DWORD(ENABLE_ECHO_INPUT));
        wchar_t buffer[256];
        DWORD got = 0;
        while (line.size() < 65536 &&
               ReadConsoleW(input, buffer, DWORD(std::size(buffer)), &got, nullptr) && got > 0) {
            line += QString::fromWCharArray(buffer, int(got));
            if (line.endsWith(QLatin1Char('\n')))
                break;
        }
        if (hide) {
            SetConsoleMode(input, saved);
            Write(stderr, QStringLiteral("\n"));
        }
    } else if (Usable(input)) {
        // A pipe or a file, in the encoding the output uses.
        QByteArray bytes;
        char c = 0;
        DWORD got = 0;
        while (bytes.size() < 65536 && ReadFile(input, &c, 1, &got, nullptr) && got == 1) {
            bytes += c;
            if (c == '\n')
                break;
        }
        line = QString::fromUtf8(bytes);
    }
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

// The window program has no console: Windows starts it without one, and a
// console it was started from goes on at once. Output that is not
// redirected goes to that console, if any, rather than nowhere.
void UseParentConsole()
{
    const bool out = Usable(GetStdHandle(STD_OUTPUT_HANDLE));
    const bool err = Usable(GetStdHandle(STD_ERROR_HANDLE));
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    const HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (!Usable(console))
        return;
    if (!out)
        SetStdHandle(STD_OUTPUT_HANDLE, console);
    if (!err)
        SetStdHandle(STD_ERROR_HANDLE, console);
}

QStringList ExpandWildcards(const QStringList &files)
{
    QStringList expanded;
    for (const QString &file : files) {
        const QFileInfo info(file);
        const QString name = info.fileName();
        if (!name.contains(QLatin1Char('*')) && !name.contains(QLatin1Char('?'))) {
            expanded << file;
            continue;
        }
        const QDir folder = info.dir();
        const QStringList matches =
            folder.entryList({name}, QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
        if (matches.isEmpty())
            expanded << file;
        for (const QString &match : matches)
            expanded << folder.filePath(match);
    }
    return expanded;
}

} // namespace Console
