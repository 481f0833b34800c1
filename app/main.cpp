#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The main window arrives with the reset run; until then there is
    // nothing to show.
    return 0;
}
