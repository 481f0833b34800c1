#include "ui/modStartFolder.h"

#include <QStandardPaths>

namespace modStartFolder
{

// Older installs keep the data below the program (a 32-bit one under the
// x86 folder), newer ones in the user's application data.
QString FirstFolder()
{
    QStringList bases;
    for (const char *name :
         {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "APPDATA", "LOCALAPPDATA"})
        bases << qEnvironmentVariable(name);
    const QString groups = GroupsFolderUnder(bases);
    if (!groups.isEmpty())
        return groups;
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

} // namespace modStartFolder
