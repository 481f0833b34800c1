#include "app/Console.h"
#include "app/frmReader.h"
#include "app/modCommandLine.h"
#include "app/modPictures.h"
#include "common/Error.h"
#include "ui/modSettings.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

int main(int argc, char *argv[])
{
    modSettings::FollowEnvironment();
    // Options mean the command line, which needs no display. A leading "-"
    // survives any conversion of the bytes; the text itself is taken from
    // the application object, which on Windows reads the wide command line
    // so that no file name is lost to the ANSI code page.
    QStringList options;
    for (int i = 1; i < argc; ++i)
        options << QString::fromLocal8Bit(argv[i]);
    if (!modCommandLine::WantsWindow(options)) {
        Console::UseParentConsole();
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Pointwind"));
        return modCommandLine::Run(QCoreApplication::arguments().mid(1));
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pointwind"));
    QApplication::setWindowIcon(modPictures::ProgramIcon());
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    try {
        frmReader window;
        // A file manager passes a selection of several files as several
        // arguments.
        if (arguments.size() > 1)
            window.OpenGroupFiles(arguments);
        else if (!arguments.isEmpty())
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
