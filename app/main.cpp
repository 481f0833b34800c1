#include "app/frmReader.h"
#include "app/modCommandLine.h"
#include "app/modPictures.h"
#include "common/Error.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Options mean the command line, which needs no display.
    if (!modCommandLine::WantsWindow(arguments)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Pointwind"));
        return modCommandLine::Run(arguments);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pointwind"));
    QApplication::setWindowIcon(modPictures::ProgramIcon());
    try {
        frmReader window;
        if (!arguments.isEmpty())
            window.OpenGroupFile(QFileInfo(arguments.first()).absoluteFilePath());
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
