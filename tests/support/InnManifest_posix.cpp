#include "support/InnManifest.h"

#include <QDeadlineTimer>
#include <QFile>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TestSupport
{

namespace
{

constexpr int ProbeMs = 2000;

// Waits for `events` on `fd` until the deadline; false when it passed.
bool WaitFor(int fd, short events, const QDeadlineTimer &deadline)
{
    pollfd p{fd, events, 0};
    for (;;) {
        const int left = int(qMax<qint64>(0, deadline.remainingTime()));
        const int ready = ::poll(&p, 1, left);
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

// Empty when a news server on 127.0.0.1:port greets a reader before the
// deadline; otherwise what went wrong. A manifest outlives the daemons it
// describes, so only an answer proves the server is there.
QByteArray ProbeReader(quint16 port, const QDeadlineTimer &deadline)
{
    const QByteArray where = "127.0.0.1:" + QByteArray::number(port);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return "no socket for " + where;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray fault;
    int error = 0;
    socklen_t size = sizeof error;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 &&
        (errno != EINPROGRESS || !WaitFor(fd, POLLOUT, deadline) ||
         ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)) {
        fault = "nothing accepts connections on " + where;
    } else {
        QByteArray greeting;
        char buffer[512];
        while (!greeting.contains('\n') && WaitFor(fd, POLLIN, deadline)) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            greeting.append(buffer, got);
        }
        if (greeting.isEmpty())
            fault = "no greeting from " + where;
        else if (!greeting.startsWith("200") && !greeting.startsWith("201"))
            fault = where + " does not greet as a news server (\"" +
                    greeting.left(greeting.indexOf('\n')).trimmed() + "\")";
        else
            (void)::send(fd, "QUIT\r\n", 6, MSG_NOSIGNAL);
    }
    ::close(fd);
    return fault;
}

} // namespace

InnManifest LoadInnManifest()
{
    InnManifest inn;
    if (::geteuid() != 0) {
        inn.whyMissing = "The INN test needs root: run tests/support/inn_setup.sh as root, then "
                         "this test as root.";
        return inn;
    }
    inn.mustExist = !qEnvironmentVariableIsEmpty("CI");
    const QString path =
        qEnvironmentVariable("POINTWIND_INN_MANIFEST", "/var/lib/pointwind-inn/inn.env");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        inn.whyMissing = "INN is not set up (no " + path.toLocal8Bit() +
                         "): run `bash tests/support/inn_setup.sh` as root first.";
        return inn;
    }
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            inn.values.insert(QString::fromLatin1(line.left(eq)),
                              QString::fromLatin1(line.mid(eq + 1)));
    }
    const QDeadlineTimer deadline(ProbeMs);
    for (const char *key : {"READER_PORT", "AUTH_PORT"}) {
        const QByteArray fault =
            ProbeReader(quint16(inn.values.value(QLatin1String(key)).toUInt()), deadline);
        if (!fault.isEmpty()) {
            inn.whyMissing = "INN does not answer within " + QByteArray::number(ProbeMs / 1000) +
                             " s: " + fault + " (as " + path.toLocal8Bit() +
                             " says). Start it with `bash tests/support/inn_setup.sh` as root.";
            return inn;
        }
    }
    return inn;
}

} // namespace TestSupport
