// Round trip of one HEAD through CNNTP against the scripted server on
// loopback, next to the same sequence done by a plain blocking socket loop
// (the floor: what the network and the server cost by themselves), and
// through CNNTP over TLS against the same server with a throwaway
// certificate, with the time to a ready session (connect, handshake,
// greeting) beside the plain one. Five runs of each, taking turns; the
// ratios are of the medians of the runs' means.
//   bench_nntp_head [count]      default 10000 requests per run
#include "nntp/CNNTP.h"
#include "support/NntpTestServer.h"
#include "support/TlsFixture.h"

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

Samples ThroughClient(quint16 port, qint64 low, int count, int security = 0,
                      qint64 *readyNs = nullptr)
{
    Samples samples;
    samples.reserve(size_t(count));
    CNNTP client;
    client.SetSecurity(security);
    QElapsedTimer t;
    QElapsedTimer connecting;
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
    QObject::connect(&client, &CNNTP::OnConnected, [&](qint32) {
        if (readyNs)
            *readyNs = connecting.nsecsElapsed();
        client.SelectGroup(QStringLiteral("alt.bench"));
    });
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
    connecting.start();
    client.Connect(QStringLiteral("127.0.0.1"), port, {}, {});
    QCoreApplication::exec();
    if (failed)
        std::exit(1);
    return samples;
}

} // namespace

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const qint64 low = 3000000000; // numbers above 2^31, as on a busy server
    constexpr int Runs = 5;

    const TestSupport::TlsFixture certs = TestSupport::TlsFixture::Make();
    if (!certs.whyMissing.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(certs.whyMissing));
        return 1;
    }
    certs.Trust();
    TestSupport::NntpTestServer server, tlsServer;
    for (TestSupport::NntpTestServer *s : {&server, &tlsServer})
        s->AddGroup(TestSupport::NntpArticleGroup::Spread("alt.bench", low, low + count, 1104922800,
                                                          1104922800 + qint64(count) * 60));
    if (!tlsServer.SetTls(TestSupport::NntpTls::Implicit, certs.serverCert, certs.serverKey) ||
        !server.Start() || !tlsServer.Start()) {
        std::fprintf(stderr, "cannot start the test servers\n");
        return 1;
    }
    std::printf("%d HEAD round trips per run on 127.0.0.1, %d runs, reply of %lld bytes\n", count,
                Runs, static_cast<long long>(server.HeadReply("alt.bench", low).size()));

    // Warm every path up, then take turns so that drift hits all alike.
    BlockingLoop(server.Port(), low, 200);
    ThroughClient(server.Port(), low, 200);
    ThroughClient(tlsServer.Port(), low, 200, CNNTP::SecurityTls);
    std::vector<double> floorMeans, plainMeans, tlsMeans, plainReady, tlsReady;
    Samples floor, plain, tls;
    for (int run = 0; run < Runs; ++run) {
        qint64 ready = 0;
        const Samples f = BlockingLoop(server.Port(), low, count);
        const Samples c = ThroughClient(server.Port(), low, count, CNNTP::SecurityNone, &ready);
        plainReady.push_back(double(ready) / 1000.0);
        const Samples t = ThroughClient(tlsServer.Port(), low, count, CNNTP::SecurityTls, &ready);
        tlsReady.push_back(double(ready) / 1000.0);
        floorMeans.push_back(Summarise(f).meanUs);
        plainMeans.push_back(Summarise(c).meanUs);
        tlsMeans.push_back(Summarise(t).meanUs);
        floor.insert(floor.end(), f.begin(), f.end());
        plain.insert(plain.end(), c.begin(), c.end());
        tls.insert(tls.end(), t.begin(), t.end());
    }
    const double mf = Median(floorMeans), mp = Median(plainMeans), mt = Median(tlsMeans);
    std::printf("%-22s median of means %8.1f us   p99 %8.1f us\n", "blocking socket loop", mf,
                Summarise(floor).p99Us);
    std::printf("%-22s median of means %8.1f us   p99 %8.1f us\n", "CNNTP", mp,
                Summarise(plain).p99Us);
    std::printf("%-22s median of means %8.1f us   p99 %8.1f us\n", "CNNTP over TLS", mt,
                Summarise(tls).p99Us);
    std::printf("ratio CNNTP / floor      %6.2fx   (goal: within 1.2x)\n", mp / mf);
    std::printf("ratio TLS / plain CNNTP  %6.2fx   (goal: within 1.3x)\n", mt / mp);
    std::printf("ready session (connect, greeting; median) plain %8.1f us   TLS %8.1f us"
                "   (handshake and certificate check: %.1f us)\n",
                Median(plainReady), Median(tlsReady), Median(tlsReady) - Median(plainReady));
    return 0;
}
