#pragma once
// Where the open dialog starts while it remembers no folder of its own.
#include <QString>
#include <QStringList>

namespace modStartFolder
{

// The newsreader keeps its group cache files here, below its install or
// data folder.
inline const QString GroupsSubfolder = QStringLiteral("NewsLeecher/data/cacheV3/groups");

// The groups folder below one of `bases`: of those holding group cache files
// the one with the newest such file (an old install left behind keeps stale
// files), else the first that exists; empty text when there is none. Blank
// and relative bases (an unset or bogus variable) are passed over.
QString GroupsFolderUnder(const QStringList &bases);

// The platform's first folder: the program's own folder on Linux; on
// Windows the newsreader's groups folder under the Program Files and
// application data folders, else the user's documents.
QString FirstFolder();

} // namespace modStartFolder
