// Runs one reset with the main window and saves a picture of the window
// when it has finished, for the README. scripts/demo.sh --screenshot runs
// it under a virtual X server with a throwaway settings store. One file is
// opened with the open dialog; several are handed over as a file manager
// does, and run together.
//   demo_screenshot GROUP_FILE... DAYS OUTPUT.png
#include "app/frmReader.h"
#include "app/modPictures.h"
#include "support/ReaderDriver.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>

int main(int argc, char *argv[])
{
    // The open dialog is answered by typing into Qt's own: a platform's
    // dialog (Windows has one) runs outside the reach of this program.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: demo_screenshot GROUP_FILE... DAYS OUTPUT.png\n");
        return 2;
    }
    QStringList files;
    for (int i = 1; i < argc - 2; ++i)
        files << QString::fromLocal8Bit(argv[i]);
    QApplication::setWindowIcon(modPictures::ProgramIcon());
    frmReader window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "the window did not appear\n");
        return 1;
    }
    if (files.size() > 1) {
        window.OpenGroupFiles(files);
    } else if (!TestSupport::OpenGroupFile(window, files.first())) {
        std::fprintf(stderr, "the open dialog did not appear\n");
        return 1;
    }
    auto *days = window.findChild<QLineEdit *>(QStringLiteral("Text2"));
    days->selectAll();
    QTest::keyClicks(days, QString::fromLocal8Bit(argv[argc - 2]));
    QTest::keyClick(days, Qt::Key_Return);
    auto *go = window.findChild<QPushButton *>(QStringLiteral("Command1"));
    go->click();
    if (!QTest::qWaitFor([&] { return go->text() == QLatin1String("Finished!"); }, 60000)) {
        std::fprintf(stderr, "the run did not finish\n");
        for (const QString &row : TestSupport::LogMessages(window))
            std::fprintf(stderr, "  %s\n", qPrintable(row));
        return 1;
    }
    // Let the goodbye of the server reach the log too.
    const QStringList log = TestSupport::LogMessages(window);
    (void)QTest::qWaitFor([&] { return TestSupport::LogMessages(window).size() > log.size(); },
                          3000);
    QTest::qWait(200);
    if (!window.grab().save(QString::fromLocal8Bit(argv[argc - 1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[argc - 1]);
        return 1;
    }
    for (const QString &row : TestSupport::LogMessages(window))
        std::printf("%s\n", qPrintable(row));
    return 0;
}
