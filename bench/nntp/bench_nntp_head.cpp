// Round trip of one HEAD through CNNTP against the scripted server on
// loopback, next to the same sequence done by a plain blocking socket loop
// (the floor: what the network and the server cost by themselves).
//   bench_nntp_head [count]      default 10000 requests
#include "nntp/CNNTP.h"
#include "support/NntpTestServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

using Samples = std::vector<qint64>; // nanoseconds

struct Figures {
    double meanUs = 0;
    double p99Us = 0;
};

Figures Summarise(Samples s)
{
    Figures f;
    if (s.empty())
        return f;
    double sum = 0;
    for (qint64 v : s)
        sum += double(v);
    f.meanUs = sum / double(s.size()) / 1000.0;
    std::sort(s.begin(), s.end());
    f.p99Us = double(s[std::min(s.size() - 1, s.size() * 99 / 100)]) / 1000.0;
    return f;
}

// The floor: one blocking socket, one request at a time, reading until the
// reply's end like any client must.
Samples BlockingLoop(quint16 port, qint64 low, int count)
{
    Samples samples;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    QByteArray in;
    char buf[65536];
    auto readUntil = [&](const char *end) {
        qsizetype found;
        while ((found = in.indexOf(end)) < 0) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                std::fprintf(stderr, "server closed\n");
                std::exit(1);
            }
            in.append(buf, n);
        }
        in.remove(0, found + qsizetype(std::strlen(end)));
    };
    auto send = [&](const QByteArray &line) {
        if (::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL) != line.size())
            std::exit(1);
    };
    readUntil("\r\n");
    send("GROUP alt.bench\r\n");
    readUntil("\r\n");
    QElapsedTimer t;
    for (int i = 0; i < count; ++i) {
        t.start();
        send("HEAD " + QByteArray::number(low + i) + "\r\n");
        readUntil("\r\n.\r\n");
        samples.push_back(t.nsecsElapsed());
    }
    send("QUIT \r\n");
    ::close(fd);
    return samples;
}

Samples ThroughClient(quint16 port, qint64 low, int count)
{
    Samples samples;
    samples.reserve(size_t(count));
    CNNTP client;
    QElapsedTimer t;
    int done = 0;
    bool failed = false;
    QObject::connect(&client, &CNNTP::SessionProtocolMessage,
                     [&](const QString &text, qint32 kind) {
                         if (kind == 3) {
                             std::fprintf(stderr, "client: %s\n", qPrintable(text));
                             failed = true;
                             QCoreApplication::quit();
                         }
                     });
    QObject::connect(&client, &CNNTP::OnConnected,
                     [&](qint32) { client.SelectGroup(QStringLiteral("alt.bench")); });
    QObject::connect(&client, &CNNTP::OnGroupSelected, [&](double, double) {
        t.start();
        client.DownloadHeader(double(low));
    });
    QObject::connect(
        &client, &CNNTP::OnHeaderComplete,
        [&](const QString &, const QString &subject, const QString &, const QString &, double) {
            samples.push_back(t.nsecsElapsed());
            if (subject.isEmpty()) {
                std::fprintf(stderr, "empty header record\n");
                failed = true;
            }
            if (++done < count) {
                t.start();
                client.DownloadHeader(double(low + done));
            } else {
                client.Disconnect();
                QCoreApplication::quit();
            }
        });
    client.Connect(QStringLiteral("127.0.0.1"), port, {}, {});
    QCoreApplication::exec();
    if (failed)
        std::exit(1);
    return samples;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const qint64 low = 3000000000; // numbers above 2^31, as on a busy server

    TestSupport::NntpTestServer server;
    server.AddGroup(TestSupport::NntpArticleGroup::Spread("alt.bench", low, low + count, 1104922800,
                                                          1104922800 + qint64(count) * 60));
    if (!server.Start()) {
        std::fprintf(stderr, "cannot start the test server\n");
        return 1;
    }
    std::printf("%d HEAD round trips on 127.0.0.1, reply of %lld bytes\n", count,
                static_cast<long long>(server.HeadReply("alt.bench", low).size()));

    // Warm both paths up, then take turns so that drift hits both alike.
    BlockingLoop(server.Port(), low, 200);
    ThroughClient(server.Port(), low, 200);
    Samples floor, client;
    for (int round = 0; round < 4; ++round) {
        Samples f = BlockingLoop(server.Port(), low, count / 4);
        Samples c = ThroughClient(server.Port(), low, count / 4);
        floor.insert(floor.end(), f.begin(), f.end());
        client.insert(client.end(), c.begin(), c.end());
    }
    const Figures ff = Summarise(floor), cf = Summarise(client);
    std::printf("%-22s mean %8.1f us   p99 %8.1f us\n", "blocking socket loop", ff.meanUs,
                ff.p99Us);
    std::printf("%-22s mean %8.1f us   p99 %8.1f us\n", "CNNTP", cf.meanUs, cf.p99Us);
    std::printf("ratio (CNNTP / floor)  mean %6.2fx    p99 %6.2fx   (goal: within 1.3x)\n",
                cf.meanUs / ff.meanUs, cf.p99Us / ff.p99Us);
    return 0;
}
