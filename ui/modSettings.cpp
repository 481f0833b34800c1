#include "ui/modSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <QStringList>
#include <cmath>
#include <limits>

namespace modSettings
{

namespace
{

constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// The file is rewritten through a temporary that takes over the mode of the
// file it replaces, so a file that is owner-only before the write never
// shows the password to anyone else, not even for a moment.
void MakeOwnerOnly(const QString &path)
{
    QFileInfo info(path);
    if (info.exists()) {
        if (info.isFile())
            QFile::setPermissions(path, OwnerOnly);
        return;
    }
    QDir().mkpath(info.absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnly))
        file.close();
}

} // namespace

QString StorePath(const QString &application)
{
    return OpenStore(application).fileName();
}

QString ReadSetting(const QString &application, const QString &section, const QString &key,
                    const QString &defaultValue)
{
    QSettings store = OpenStore(application);
    store.beginGroup(section);
    if (!store.contains(key))
        return defaultValue;
    const QVariant value = store.value(key);
    // A hand-edited value with bare commas reads back as a list.
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

bool WriteSetting(const QString &application, const QString &section, const QString &key,
                  const QString &text)
{
    QSettings store = OpenStore(application);
    const QString path = store.fileName();
    MakeOwnerOnly(path);
    store.beginGroup(section);
    store.setValue(key, text);
    store.sync();
    const bool written = store.status() == QSettings::NoError;
    if (QFileInfo(path).isFile())
        QFile::setPermissions(path, OwnerOnly);
    return written;
}

std::optional<int> WholeNumber(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    // The user's own decimal separator first, then the point; grouping
    // separators are refused so that "1,000" cannot turn into 1000 or 1.
    QLocale system = QLocale::system();
    system.setNumberOptions(QLocale::RejectGroupSeparator);
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    double value = system.toDouble(trimmed, &ok);
    if (!ok)
        value = c.toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    // rint rounds a half to the even neighbour in the default rounding mode.
    const double rounded = std::rint(value);
    if (rounded < std::numeric_limits<int>::min() || rounded > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(rounded);
}

std::optional<int> WholeNumberIn(const QString &text, int low, int high)
{
    const std::optional<int> number = WholeNumber(text);
    if (!number || *number < low || *number > high)
        return std::nullopt;
    return number;
}

QString ReadProgramSetting(const QString &key, const QString &defaultValue)
{
    return ReadSetting(AppName, Section, key, defaultValue);
}

} // namespace modSettings
