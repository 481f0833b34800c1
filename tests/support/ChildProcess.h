#pragma once
// Runs a piece of a test in a forked child, for conditions that must not
// reach the test process itself (a file size limit, fewer privileges).
// Windows has no fork: there no child starts, and tests skip such cases
// when CanRunInChild() is false.
#include <QString>
#include <functional>

namespace TestSupport
{

// Runs body in a child process and returns its result (0 to 255), or -1
// when the child did not exit normally. The child leaves with _exit, so no
// destructor or exit handler of the test process runs twice.
int RunInChild(const std::function<int()> &body);
bool CanRunInChild();

// The two halves of RunInChild, for a test that acts on the child while it
// runs (kills it, for example). StartChild returns the child's process id,
// or -1; WaitForChild reaps it and returns what RunInChild would.
int StartChild(const std::function<int()> &body);
int WaitForChild(int pid);

// In a child: writes past this many bytes into any file fail with EFBIG,
// as on a full disk, instead of raising SIGXFSZ.
bool LimitFileSize(long long bytes);

// In a child running as root: carry on as an unprivileged user, so that
// folder permissions apply. Does nothing for other users.
bool DropRoot();

// Gives everyone access to a folder, so that a child after DropRoot can
// reach the files the test made in it.
void OpenToEveryone(const QString &folder);

} // namespace TestSupport
