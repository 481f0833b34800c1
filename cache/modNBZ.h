#pragma once
// The newsreader's group cache file: the group name its path carries, and
// the rewound file that replaces it.
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace modNBZ
{

// The group name of a group cache file path ("...\alt.test.nc1" gives
// "alt.test"), or the empty text when the path does not end in ".nc1".
QString GroupNameFromPath(const QString &path);

// Replaces the file at path with a minimal group cache file naming
// serverName, whose last-read pointer is pointer and which carries the old
// file's lu value. Returns 1 on success, 0 on any failure; on failure the
// old file is left exactly as it was.
qint16 WriteGroupCacheFile(const QString &path, const QString &serverName, double pointer);

// The pieces of WriteGroupCacheFile, exposed for tests and benchmarks.
// The lu value of the group cache file at path ("923444937" when it has
// none); false when the file exists but cannot be read.
bool ReadLuValue(const QString &path, QString &value);
// The lu value of a file's bytes arriving in the given pieces, found the way
// ReadLuValue finds it; for checking the reader where pieces meet.
QString LuValueOf(const QList<QByteArrayView> &pieces);
// The file's bytes for the given values; empty when they cannot be written
// (a server name that would break the file's lines, or a pointer that is
// not a whole number from 0 to 2^53).
QByteArray BuildGroupCacheFile(const QString &lu, const QString &serverName, double pointer);

} // namespace modNBZ
