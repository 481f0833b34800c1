#include "support/ChildProcess.h"

namespace TestSupport
{

// Windows cannot fork, and a new process would not share the test's state:
// no child is started, and the callers see a failure they can skip on.
int StartChild(const std::function<int()> &)
{
    return -1;
}

int WaitForChild(int)
{
    return -1;
}

bool LimitFileSize(long long)
{
    return false;
}

// No root to leave: every user is bound by the folders' access rules.
bool DropRoot()
{
    return true;
}

bool CanRunInChild()
{
    return false;
}

} // namespace TestSupport
