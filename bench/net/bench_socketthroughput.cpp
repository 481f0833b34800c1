// Pushes the same amount of data through a CSocket pair on loopback (one
// sending with SendData, one taking with GetData inside OnDataArrival) and
// through plain blocking sockets (a sending thread and a receiving one), and
// prints both throughputs and their ratio. Both CSocket ends share the one
// user-interface thread, so a plain pair driven by poll() in one thread is
// measured too: it is the same work without the layer.
//   bench_socketthroughput [megabytes=200] [chunk kilobytes=1024]
#include "net/CSocket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

struct Figures {
    qint64 Bytes = 0;
    double Seconds = 0;
    double MegabytesPerSecond() const { return Bytes / 1e6 / Seconds; }
};

// piece 0: the receiver takes everything waiting at each arrival; otherwise
// it takes the buffer apart piece by piece, as a line-oriented reader would.
Figures RunCSocketPair(qint64 total, qsizetype chunk, int piece)
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
        do {
            data.clear();
            receiver.GetData(data, piece);
            received += data.size();
        } while (piece > 0 && !data.isEmpty());
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

struct PlainPair {
    int Out = -1, In = -1, Listen = -1, ReadSize = 0;
    PlainPair()
    {
        Listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        ::bind(Listen, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        ::listen(Listen, 1);
        ::getsockname(Listen, reinterpret_cast<sockaddr *>(&sa), &len);
        Out = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(Out, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        In = ::accept(Listen, nullptr, nullptr);
        len = sizeof ReadSize;
        ::getsockopt(In, SOL_SOCKET, SO_RCVBUF, &ReadSize, &len);
    }
    ~PlainPair()
    {
        ::close(In);
        ::close(Out);
        ::close(Listen);
    }
};

// Blocking sockets, a thread for each end.
Figures RunPlainBlocking(qint64 total, qsizetype chunk)
{
    Figures f;
    PlainPair pair;
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        const QByteArray block(chunk, 'x');
        for (qint64 sent = 0; sent < total;) {
            ssize_t n = ::send(pair.Out, block.constData(), size_t(std::min<qint64>(chunk, total - sent)), 0);
            if (n <= 0)
                break;
            sent += n;
        }
    });
    QByteArray buffer(pair.ReadSize, Qt::Uninitialized);
    while (f.Bytes < total) {
        ssize_t n = ::recv(pair.In, buffer.data(), size_t(buffer.size()), 0);
        if (n <= 0)
            break;
        f.Bytes += n;
    }
    f.Seconds = clock.nsecsElapsed() / 1e9;
    writer.join();
    return f;
}

// Both ends in one thread around poll(), as CSocket has them: the same work
// without the layer.
Figures RunPlainOneThread(qint64 total, qsizetype chunk)
{
    Figures f;
    PlainPair pair;
    ::fcntl(pair.Out, F_SETFL, ::fcntl(pair.Out, F_GETFL) | O_NONBLOCK);
    ::fcntl(pair.In, F_SETFL, ::fcntl(pair.In, F_GETFL) | O_NONBLOCK);
    const QByteArray block(chunk, 'x');
    QByteArray buffer(pair.ReadSize, Qt::Uninitialized);
    qint64 sent = 0;
    qsizetype offset = 0;
    QElapsedTimer clock;
    clock.start();
    while (f.Bytes < total) {
        pollfd fds[2] = {{pair.In, POLLIN, 0}, {pair.Out, short(sent < total ? POLLOUT : 0), 0}};
        ::poll(fds, 2, -1);
        if (fds[1].revents & POLLOUT) {
            const qsizetype want = qsizetype(std::min<qint64>(chunk, total - sent + offset)) - offset;
            ssize_t n = ::send(pair.Out, block.constData() + offset, size_t(want), 0);
            if (n > 0) {
                sent += n;
                offset = (offset + n) % chunk;
            }
        }
        if (fds[0].revents & POLLIN) {
            ssize_t n = ::recv(pair.In, buffer.data(), size_t(buffer.size()), 0);
            if (n > 0)
                f.Bytes += n;
        }
    }
    f.Seconds = clock.nsecsElapsed() / 1e9;
    return f;
}

// The run with the median time of several: one run of 200 MB is short
// enough for a busy machine to skew it.
template <typename Run>
Figures Median(Run run, int times = 5)
{
    std::vector<Figures> runs;
    for (int i = 0; i < times; ++i)
        runs.push_back(run());
    std::sort(runs.begin(), runs.end(), [](const Figures &a, const Figures &b) { return a.Seconds < b.Seconds; });
    return runs[runs.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200;
    const qsizetype chunk = (argc > 2 ? QByteArray(argv[2]).toLongLong() : 1024) * 1024;
    const qint64 total = megabytes * 1000 * 1000;

    const Figures plain = Median([&] { return RunPlainBlocking(total, chunk); });
    const Figures oneThread = Median([&] { return RunPlainOneThread(total, chunk); });
    const Figures ours = Median([&] { return RunCSocketPair(total, chunk, 0); });
    const Figures pieces = Median([&] { return RunCSocketPair(total, chunk, 4096); });
    std::printf("data: %lld MB in chunks of %lld KiB over 127.0.0.1, median of 5 runs\n", static_cast<long long>(megabytes),
                static_cast<long long>(chunk / 1024));
    std::printf("plain blocking sockets: %8.1f MB/s (%.3f s)\n", plain.MegabytesPerSecond(), plain.Seconds);
    std::printf("CSocket pair:           %8.1f MB/s (%.3f s)\n", ours.MegabytesPerSecond(), ours.Seconds);
    std::printf("ratio CSocket / plain:  %8.2f\n", ours.MegabytesPerSecond() / plain.MegabytesPerSecond());
    std::printf("plain sockets, one thread with poll(): %8.1f MB/s (%.3f s)\n", oneThread.MegabytesPerSecond(),
                oneThread.Seconds);
    std::printf("ratio CSocket / one-thread plain: %8.2f\n",
                ours.MegabytesPerSecond() / oneThread.MegabytesPerSecond());
    std::printf("CSocket pair, GetData in 4 KiB pieces: %8.1f MB/s (%.3f s)\n", pieces.MegabytesPerSecond(),
                pieces.Seconds);
    return ours.Bytes == total && pieces.Bytes == total && plain.Bytes == total ? 0 : 1;
}
