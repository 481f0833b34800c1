#include "ui/modStartFolder.h"

#include <QCoreApplication>

namespace modStartFolder
{

// The newsreader does not run here: its files are wherever the user copied
// them.
QString FirstFolder()
{
    return QCoreApplication::applicationDirPath();
}

} // namespace modStartFolder
