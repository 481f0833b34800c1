#include "app/Console.h"

#include <termios.h>
#include <unistd.h>

namespace Console
{

bool IsTerminal(std::FILE *stream)
{
    return isatty(fileno(stream));
}

void Write(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

QString ReadLine(bool echo)
{
    termios saved{};
    const bool hide = !echo && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (hide) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    char buffer[1024];
    const bool got = std::fgets(buffer, sizeof buffer, stdin) != nullptr;
    if (hide) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        Write(stderr, QStringLiteral("\n"));
    }
    QString line = got ? QString::fromLocal8Bit(buffer) : QString();
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

void UseParentConsole() {}

QStringList ExpandWildcards(const QStringList &files) { return files; }

} // namespace Console
