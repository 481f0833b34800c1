#pragma once
// Reading and writing whole files in tests.
#include <QByteArray>
#include <QString>

namespace TestSupport
{

// The file's bytes, or "<unreadable>" when it cannot be opened.
QByteArray ReadFileBytes(const QString &path);

// Creates or truncates the file and writes bytes; false on any failure.
bool WriteFileBytes(const QString &path, const QByteArray &bytes);

} // namespace TestSupport
