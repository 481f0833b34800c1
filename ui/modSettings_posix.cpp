#include "ui/modSettings.h"

#include <QSettings>

namespace modSettings
{

// Native format with the application as organisation and no application
// name: the store is "<config folder>/<application>.conf".
QSettings OpenStore(const QString &application)
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, application);
}

void FollowEnvironment() {}

} // namespace modSettings
