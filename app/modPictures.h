#pragma once
// The program's pictures, drawn at run time so that they stay sharp at any
// screen scale and need no image files: the open button's folder, the three
// log icons and the program icon.
#include <QIcon>
#include <QString>

namespace modPictures
{
// A 16 x 16 open folder for the open button.
QIcon FolderPicture();
// The log icons by key: "warning" (yellow triangle, exclamation mark),
// "abort" (red disc, white cross), "info" (blue i in a speech bubble).
// Any other key gives a null icon.
QIcon LogIcon(const QString &key);
// The program icon: a sheet of lines with a rewind arrow, at 16 to 256 px.
QIcon ProgramIcon();
} // namespace modPictures
