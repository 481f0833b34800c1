#include "ui/modSettings.h"

#include <QDir>
#include <QSettings>

namespace modSettings
{

// The native format would be the registry. An INI file in the roaming
// application data folder instead: "%APPDATA%\<application>.ini", per user
// and private to them like the Linux file, and easy to back up.
QSettings OpenStore(const QString &application)
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, application);
}

// Qt asks Windows for the roaming folder, which is where APPDATA points
// unless someone pointed it elsewhere on purpose.
void FollowEnvironment()
{
    const QString folder = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
    if (!folder.isEmpty() && QDir::isAbsolutePath(folder))
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

} // namespace modSettings
