#include "support/ChildProcess.h"

#include <QFile>

namespace TestSupport
{

int RunInChild(const std::function<int()> &body)
{
    return WaitForChild(StartChild(body));
}

void OpenToEveryone(const QString &folder)
{
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                      QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                      QFile::ExeOther);
}

} // namespace TestSupport
