#pragma once
// The command line's terminal: writing to standard output and error,
// reading a typed line, and telling whether a stream is a terminal at all.
#include <QString>
#include <QStringList>
#include <cstdio>

namespace Console
{

// True when `stream` (stdin, stdout or stderr) is an interactive terminal,
// so that asking the user a question can be answered.
bool IsTerminal(std::FILE *stream);

// Writes `text` to stdout or stderr at once. Lines end in "\n"; a Windows
// console shows them as its own lines, a file or pipe gets "\n" on every
// platform.
void Write(std::FILE *stream, const QString &text);

// A line typed on standard input, without its line end; with `echo` off
// the characters are not shown (for a password).
QString ReadLine(bool echo);

// The file arguments as the program takes them. A Unix shell has expanded
// wildcards already; a Windows console and the Task Scheduler pass them on
// as typed, so there a "*" or "?" in a name is expanded here (in name order;
// a pattern that matches nothing stays, to be reported as missing).
QStringList ExpandWildcards(const QStringList &files);

// A window program started with options from a console writes its output
// there, when it has none of its own. Nothing where programs always have
// their standard streams.
void UseParentConsole();

} // namespace Console
