// Serves generated newsgroups on 127.0.0.1 until interrupted, for demos and
// manual runs of the program against a server whose dates are known.
//   nntp_test_server [--port N] [--group NAME[,NAME...]] [--low N] [--high N]
//                    [--days D] [--user U --password P] [--delay MS]
//                    [--no-hdr | --xhdr-only | --no-capabilities | --mode-reader]
//                    [--hdr-garbage]
// In each group, articles low..high are posted at even steps from D days ago
// up to now. The server lists HDR in its capabilities unless told otherwise;
// --no-capabilities answers CAPABILITIES with 500, --mode-reader behaves as a
// transit server until MODE READER.
#include "support/NntpTestServer.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

int main(int argc, char **argv)
{
    quint16 port = 0;
    QByteArray group = "alt.test.pointer", user, password;
    qint64 low = 1, high = 10000;
    double days = 90;
    int delay = 0;
    auto capabilities = TestSupport::NntpCapabilities::Hdr;
    bool rangeGarbage = false;
    for (int i = 1; i < argc; ++i) {
        const char *k = argv[i];
        // The switches that take no value: what the server offers.
        static const std::pair<const char *, TestSupport::NntpCapabilities> offers[] = {
            {"--no-hdr", TestSupport::NntpCapabilities::NoHdr},
            {"--xhdr-only", TestSupport::NntpCapabilities::XhdrOnly},
            {"--no-capabilities", TestSupport::NntpCapabilities::Unknown},
            {"--mode-reader", TestSupport::NntpCapabilities::ModeReader}};
        const auto offer = std::find_if(std::begin(offers), std::end(offers),
                                        [k](const auto &o) { return !std::strcmp(k, o.first); });
        if (offer != std::end(offers)) {
            capabilities = offer->second;
            continue;
        }
        if (!std::strcmp(k, "--hdr-garbage")) {
            rangeGarbage = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "option %s wants a value\n", k);
            return 2;
        }
        const char *v = argv[++i];
        if (!std::strcmp(k, "--port"))
            port = quint16(std::atoi(v));
        else if (!std::strcmp(k, "--group"))
            group = v;
        else if (!std::strcmp(k, "--low"))
            low = std::atoll(v);
        else if (!std::strcmp(k, "--high"))
            high = std::atoll(v);
        else if (!std::strcmp(k, "--days"))
            days = std::atof(v);
        else if (!std::strcmp(k, "--user"))
            user = v;
        else if (!std::strcmp(k, "--password"))
            password = v;
        else if (!std::strcmp(k, "--delay"))
            delay = std::atoi(v);
        else {
            std::fprintf(stderr, "unknown option %s\n", k);
            return 2;
        }
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr); // before the server thread starts

    const qint64 now = std::time(nullptr);
    TestSupport::NntpTestServer server;
    for (const QByteArray &name : group.split(','))
        server.AddGroup(TestSupport::NntpArticleGroup::Spread(name, low, high,
                                                              now - qint64(days * 86400), now));
    if (!user.isEmpty())
        server.SetLogin(user, password, true);
    server.SetReplyDelay(delay);
    server.SetCapabilities(capabilities);
    server.SetHeaderRangeGarbage(rangeGarbage);
    if (!server.Start(port)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%u\n", unsigned(port));
        return 1;
    }
    std::printf("Serving %s (%lld-%lld, %g days) on 127.0.0.1:%u\n", group.constData(), low, high,
                days, unsigned(server.Port()));
    std::fflush(stdout);
    int sig = 0;
    sigwait(&set, &sig);
    server.Stop();
    return 0;
}
