#include "ui/modSettings.h"

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

} // namespace modSettings
