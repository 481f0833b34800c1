#pragma once
// The command line: `pointwind --days N [options] FILE.nc1...` runs the
// reset without a window (and without a display) for many group cache files
// over one connection, or spread over several. Without options the window starts, and opens the
// file named, if any.
#include <QStringList>

namespace modCommandLine
{

// Exit statuses, as --help gives them.
enum Status : int { AllRewritten = 0, SomeFailed = 1, BadUsage = 2 };

// True when the arguments (without the program's name) ask for the window:
// none of them is an option.
bool WantsWindow(const QStringList &arguments);

// Runs the command line under the QCoreApplication that exists by now and
// returns the exit status.
int Run(const QStringList &arguments);

// The text of --help.
QString Usage();

} // namespace modCommandLine
