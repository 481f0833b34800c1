#include "ui/modStartFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace modStartFolder
{

QString GroupsFolderUnder(const QStringList &bases)
{
    QString first;
    QString newest;
    QDateTime newestTime;
    for (const QString &base : bases) {
        if (base.trimmed().isEmpty() || QDir::isRelativePath(QDir::fromNativeSeparators(base)))
            continue;
        const QString folder =
            QDir::cleanPath(QDir::fromNativeSeparators(base) + QLatin1Char('/') + GroupsSubfolder);
        if (!QFileInfo(folder).isDir())
            continue;
        if (first.isEmpty())
            first = folder;
        const QFileInfoList files = QDir(folder).entryInfoList(
            {QStringLiteral("*.nc1")}, QDir::Files | QDir::Readable, QDir::Time);
        if (!files.isEmpty() && (newest.isEmpty() || files.first().lastModified() > newestTime)) {
            newest = folder;
            newestTime = files.first().lastModified();
        }
    }
    return newest.isEmpty() ? first : newest;
}

} // namespace modStartFolder
