#include "app/frmReader.h"
#include "app/modPictures.h"
#include "common/Error.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pointwind"));
    QApplication::setWindowIcon(modPictures::ProgramIcon());
    try {
        frmReader window;
        window.show();
        return app.exec();
    } catch (const RaisedError &error) {
        // Only the window's start can raise (its client needs a timer).
        QMessageBox::critical(nullptr, QStringLiteral("Pointwind"),
                              QStringLiteral("Pointwind cannot start: %1 (%2, error %3).")
                                  .arg(error.Description(), error.Source())
                                  .arg(error.Number()));
        return 1;
    }
}
