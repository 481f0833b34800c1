#pragma once
// The part of modFile that speaks to the operating system: one source per
// system (modFile_posix.cpp, modFile_win.cpp), chosen by the build.
#include <QString>
#include <functional>

class QFile;

namespace modFile::os
{

// Writes the file at target, which is no symbolic link, through the
// temporary file temp and puts it in place only when writeBody succeeded
// and every byte reached the disk. See ReplaceFileSafely.
bool ReplaceThroughTemporary(const QString &target, const QString &temp,
                             const std::function<bool(QFile &)> &writeBody);

// Whether another program's open handle keeps the file at target from
// being replaced now.
bool HeldOpenElsewhere(const QString &target);

} // namespace modFile::os

namespace modFile
{

// Gives writeBody a QFile on the open descriptor fd, which stays open.
// True when writeBody succeeded and the file reports no error.
bool WriteBodyTo(int fd, const std::function<bool(QFile &)> &writeBody);

} // namespace modFile
