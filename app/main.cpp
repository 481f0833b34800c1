#include "app/frmReader.h"
#include "app/modPictures.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pointwind"));
    QApplication::setWindowIcon(modPictures::ProgramIcon());
    frmReader window;
    window.show();
    return app.exec();
}
