// The crash-safe replacement on Windows: a temporary file written through
// to the disk and shared with nobody while it is open, then ReplaceFileW
// (MoveFileExW when there is no old file). Every path goes to Windows as
// UTF-16 with the \\?\ prefix, so that no name and no length is refused.
#include "cache/modFile.h"
#include "cache/modFile_os.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <io.h>
#include <string>
#include <windows.h>

namespace modFile
{
namespace
{

// The absolute path with "\" separators and the prefix that lifts the
// 260-character limit; "." and ".." are resolved here, since Windows takes
// a prefixed path literally.
std::wstring Win32Path(const QString &path)
{
    QString full = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (full.startsWith(QLatin1String("\\\\?\\")))
        return full.toStdWString();
    if (full.startsWith(QLatin1String("\\\\")))
        full = QLatin1String("\\\\?\\UNC\\") + full.mid(2);
    else
        full.prepend(QLatin1String("\\\\?\\"));
    return full.toStdWString();
}

// Creates the temporary file, shared with nobody: Windows itself keeps a
// second writer from opening or removing it for as long as it is open.
// A file left by a writer that is gone can be removed, and is; one whose
// writer is still at work cannot, and this write gives up.
HANDLE CreateTemporary(const std::wstring &temp)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        const HANDLE h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            return h;
        if (::GetLastError() != ERROR_FILE_EXISTS)
            return INVALID_HANDLE_VALUE;
        // A link or a folder under that name is not ours to remove.
        const DWORD attributes = ::GetFileAttributesW(temp.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            return INVALID_HANDLE_VALUE;
        if (!::DeleteFileW(temp.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
            return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

// ReplaceFileW swaps the names in one step and keeps the old file's
// attributes, owner and permissions; a target that is not there (any more)
// is moved to instead.
bool PutInPlace(const std::wstring &temp, const std::wstring &target, bool exists)
{
    if (exists) {
        ::SetLastError(ERROR_SUCCESS);
        if (::ReplaceFileW(target.c_str(), temp.c_str(), nullptr,
                           REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                           nullptr))
            return true;
        if (::GetLastError() != ERROR_FILE_NOT_FOUND)
            return false;
    }
    return ::MoveFileExW(temp.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

} // namespace

namespace os
{

bool ReplaceThroughTemporary(const QString &target, const QString &tempPath,
                             const std::function<bool(QFile &)> &writeBody)
{
    const std::wstring targetName = Win32Path(target);
    WIN32_FILE_ATTRIBUTE_DATA existing = {};
    const bool exists =
        ::GetFileAttributesExW(targetName.c_str(), GetFileExInfoStandard, &existing) != 0;
    if (!exists && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    // Only a plain file the user may change is replaced.
    if (exists && (existing.dwFileAttributes &
                   (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY)))
        return false;

    const std::wstring temp = Win32Path(tempPath);
    const HANDLE h = CreateTemporary(temp);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    // Binary, so that no byte is translated on its way to the file.
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    bool ok = fd >= 0 && WriteBodyTo(fd, writeBody) && ::FlushFileBuffers(h);
    // ReplaceFileW opens the file itself, so it is closed first. A second
    // writer that takes it for stale now and starts its own holds that one
    // unshared, and the replacement below fails instead of putting half a
    // file in place.
    if (fd >= 0)
        ::_close(fd);
    else
        ::CloseHandle(h);
    if (ok)
        ok = PutInPlace(temp, targetName, exists);
    if (!ok)
        ::DeleteFileW(temp.c_str());
    return ok;
}

bool HeldOpenElsewhere(const QString &target)
{
    // Replacing needs the right to delete the old file, which every handle
    // opened without FILE_SHARE_DELETE withholds.
    const HANDLE h = ::CreateFileW(Win32Path(target).c_str(), GENERIC_READ | DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    }
    ::CloseHandle(h);
    return false;
}

} // namespace os

// Windows reads ahead on its own for a file read from start to end.
void AdviseSequentialReading(const QFile &) {}

} // namespace modFile
