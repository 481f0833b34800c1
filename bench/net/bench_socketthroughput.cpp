// Pushes the same amount of data through a CSocket pair on loopback (one
// sending with SendData, one taking with GetData inside OnDataArrival) and
// through plain blocking sockets (a sending thread and a receiving one), and
// prints both throughputs and their ratio.
//   bench_socketthroughput [megabytes=200] [chunk kilobytes=1024]
#include "net/CSocket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct Figures {
    qint64 Bytes = 0;
    double Seconds = 0;
    double MegabytesPerSecond() const { return Bytes / 1e6 / Seconds; }
};

Figures RunCSocketPair(qint64 total, qsizetype chunk)
{
    Figures f;
    CSocket listener, receiver, sender;
    const QByteArray block(chunk, 'x');
    qint64 queued = 0;
    qint64 received = 0;
    QElapsedTimer clock;

    QObject::connect(&listener, &CSocket::OnConnectionRequest, [&](qint32 id) { receiver.Accept(id); });
    QObject::connect(&receiver, &CSocket::OnDataArrival, [&] {
        QByteArray data;
        receiver.GetData(data);
        received += data.size();
        if (received >= total)
            QCoreApplication::quit();
    });
    auto sendNext = [&] {
        if (queued >= total)
            return;
        const qsizetype n = qsizetype(std::min<qint64>(chunk, total - queued));
        queued += n;
        sender.SendData(n == chunk ? block : block.left(n));
    };
    QObject::connect(&sender, &CSocket::OnConnect, [&] {
        clock.start();
        sendNext();
    });
    QObject::connect(&sender, &CSocket::OnSendComplete, sendNext);

    listener.Listen();
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ::getsockname(listener.SocketHandle(), reinterpret_cast<sockaddr *>(&sa), &len);
    sender.Connect(QStringLiteral("127.0.0.1"), ntohs(sa.sin_port));
    QCoreApplication::exec();
    f.Seconds = clock.nsecsElapsed() / 1e9;
    f.Bytes = received;
    return f;
}

Figures RunPlainBlocking(qint64 total, qsizetype chunk)
{
    Figures f;
    int listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    ::bind(listen, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    ::listen(listen, 1);
    ::getsockname(listen, reinterpret_cast<sockaddr *>(&sa), &len);
    int out = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(out, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    int in = ::accept(listen, nullptr, nullptr);
    int readSize = 0;
    len = sizeof readSize;
    ::getsockopt(in, SOL_SOCKET, SO_RCVBUF, &readSize, &len);

    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        const QByteArray block(chunk, 'x');
        for (qint64 sent = 0; sent < total;) {
            ssize_t n = ::send(out, block.constData(), size_t(std::min<qint64>(chunk, total - sent)), 0);
            if (n <= 0)
                break;
            sent += n;
        }
    });
    QByteArray buffer(readSize, Qt::Uninitialized);
    while (f.Bytes < total) {
        ssize_t n = ::recv(in, buffer.data(), size_t(buffer.size()), 0);
        if (n <= 0)
            break;
        f.Bytes += n;
    }
    f.Seconds = clock.nsecsElapsed() / 1e9;
    writer.join();
    ::close(in);
    ::close(out);
    ::close(listen);
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200;
    const qsizetype chunk = (argc > 2 ? QByteArray(argv[2]).toLongLong() : 1024) * 1024;
    const qint64 total = megabytes * 1000 * 1000;

    const Figures plain = RunPlainBlocking(total, chunk);
    const Figures ours = RunCSocketPair(total, chunk);
    std::printf("data: %lld MB in chunks of %lld KiB over 127.0.0.1\n", static_cast<long long>(megabytes),
                static_cast<long long>(chunk / 1024));
    std::printf("plain blocking sockets: %8.1f MB/s (%.3f s)\n", plain.MegabytesPerSecond(), plain.Seconds);
    std::printf("CSocket pair:           %8.1f MB/s (%.3f s)\n", ours.MegabytesPerSecond(), ours.Seconds);
    std::printf("ratio CSocket / plain:  %8.2f\n", ours.MegabytesPerSecond() / plain.MegabytesPerSecond());
    return ours.Bytes == total && plain.Bytes == total ? 0 : 1;
}
