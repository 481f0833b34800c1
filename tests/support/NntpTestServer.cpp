#include "support/NntpTestServer.h"

#include "common/modMain.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "support/TestSockets.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace TestSupport
{

using namespace Sockets;

namespace
{

QByteArray Stuffed(const QList<QByteArray> &lines)
{
    QByteArray out;
    for (const QByteArray &line : lines) {
        if (line.startsWith('.'))
            out += '.';
        out += line;
        out += "\r\n";
    }
    out += ".\r\n";
    return out;
}

using Clock = std::chrono::steady_clock;

// A reply waiting for its moment to leave.
struct Outgoing {
    Clock::time_point due;
    int event = 0;
    QByteArray reply;
    bool closeAfter = false;
    bool startTls = false;
};

struct Client {
    Socket fd = NoSocket;
    std::deque<Outgoing> outgoing;
    bool readerMode = false;
    QByteArray input;
    int event = 0;
    QByteArray group;
    QByteArray pendingUser;
    bool userGiven = false;
    bool loggedIn = false;
    // TLS over memory queues, so that no handshake can block the thread.
    SSL *ssl = nullptr;
    BIO *in = nullptr;
    BIO *out = nullptr;
    bool tlsUp = false;
    bool greetAfterHandshake = false;
    bool startTlsNext = false;
};

} // namespace

NntpArticleGroup NntpArticleGroup::Spread(const QByteArray &name, qint64 low, qint64 high,
                                          qint64 firstPosted, qint64 lastPosted)
{
    NntpArticleGroup g;
    g.name = name;
    g.low = low;
    g.high = high;
    g.postedAt = [=](qint64 n) {
        if (high <= low)
            return firstPosted;
        // long double keeps the step exact enough for spans of 2^40 articles.
        const long double step =
            (long double)(lastPosted - firstPosted) / (long double)(high - low);
        return firstPosted + qint64(step * (long double)(n - low));
    };
    return g;
}

struct NntpTestServer::Impl {
    mutable std::mutex mutex;
    // Script (guarded by mutex)
    std::map<QByteArray, NntpArticleGroup> groups;
    int greetingCode = 200;
    QByteArray greetingText;
    QByteArray user, password;
    bool loginRequired = false;
    int userReply = 381;
    int passwordRefusal = 481;
    std::map<QByteArray, QByteArray> commandReplies;
    std::function<std::optional<QByteArray>(const QByteArray &)> hook;
    int pieceBytes = 0;
    int piecePauseUs = 0;
    QList<int> cutPoints;
    int replyDelayMs = 0;
    int closeAt = -1;
    int closePartial = 0;
    int resetAt = -1;
    int silentFrom = -1;
    int garbageFrom = -1;
    bool rangeGarbage = false;
    NntpCapabilities capabilities = NntpCapabilities::Unknown;
    NntpTls tls = NntpTls::None;
    SSL_CTX *tlsContext = nullptr;
    NntpTlsFault tlsFault = NntpTlsFault::None;
    bool tlsByteAtATime = false;
    // Record (guarded by mutex)
    QList<QByteArray> received;
    int connections = 0;
    int open = 0;
    // Runtime
    Socket listenFd = NoSocket;
    Socket wake[2] = {NoSocket, NoSocket};
    quint16 port = 0;
    std::atomic<bool> stopping{false};
    std::thread thread;
    std::vector<Client> clients;

    void Run();
    bool Wait(qint64 microseconds);
    bool SendAll(Socket fd, const char *data, qsizetype size);
    bool SendTo(Client &c, const char *data, qsizetype size);
    bool FlushTls(Client &c, qsizetype limit = -1);
    void BeginTls(Client &c);
    bool TlsInput(Client &c, const char *data, qsizetype size, int greetingEvent);
    QByteArray Greeting();
    void Respond(Client &c, int event, QByteArray reply, bool closeAfter);
    void Deliver(Client &c, int event, const QByteArray &reply, bool closeAfter, bool startTls,
                 Clock::time_point arrived);
    void SendDue(Client &c);
    QByteArray HeaderRange(Client &c, const QByteArray &keyword, const QList<QByteArray> &words);
    QByteArray Answer(Client &c, const QByteArray &line, bool &closeAfter);
    QByteArray HeadOf(const NntpArticleGroup &g, qint64 n) const;
    void Drop(Client &c);
};

NntpTestServer::NntpTestServer() : d(std::make_unique<Impl>()) {}

NntpTestServer::~NntpTestServer()
{
    Stop();
    if (d->tlsContext)
        SSL_CTX_free(d->tlsContext);
}

bool NntpTestServer::Start(quint16 port, bool ipv6)
{
    if (d->thread.joinable())
        return true;
    d->listenFd = Open(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM);
    if (d->listenFd == NoSocket)
        return false;
    AllowRebind(d->listenFd);
    sockaddr_storage storage{};
    socklen_t len = sizeof storage;
    auto *addr = reinterpret_cast<sockaddr *>(&storage);
    if (ipv6) {
        auto *a6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(port);
        a6->sin6_addr = in6addr_loopback;
        SetOption(d->listenFd, IPPROTO_IPV6, IPV6_V6ONLY, 1);
    } else {
        auto *a4 = reinterpret_cast<sockaddr_in *>(&storage);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(port);
        a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    if (::bind(d->listenFd, addr, ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in)) != 0 ||
        ::listen(d->listenFd, 16) != 0 || ::getsockname(d->listenFd, addr, &len) != 0 ||
        !OpenWake(d->wake)) {
        Close(d->listenFd);
        d->listenFd = NoSocket;
        return false;
    }
    d->port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6 *>(&storage)->sin6_port
                         : reinterpret_cast<sockaddr_in *>(&storage)->sin_port);
    d->stopping = false;
    d->thread = std::thread([this] { d->Run(); });
    return true;
}

void NntpTestServer::Stop()
{
    if (!d->thread.joinable())
        return;
    d->stopping = true;
    Poke(d->wake);
    d->thread.join();
    for (Client &c : d->clients) {
        Close(c.fd);
        if (c.ssl)
            SSL_free(c.ssl);
    }
    d->clients.clear();
    Close(d->listenFd);
    CloseWake(d->wake);
    d->listenFd = NoSocket;
    std::lock_guard lock(d->mutex);
    d->open = 0;
}

quint16 NntpTestServer::Port() const
{
    return d->port;
}

// --- Script -----------------------------------------------------------------

void NntpTestServer::AddGroup(const NntpArticleGroup &group)
{
    std::lock_guard lock(d->mutex);
    d->groups[group.name] = group;
}

void NntpTestServer::ClearGroups()
{
    std::lock_guard lock(d->mutex);
    d->groups.clear();
}

void NntpTestServer::SetGreeting(int code, const QByteArray &text)
{
    std::lock_guard lock(d->mutex);
    d->greetingCode = code;
    d->greetingText = text;
}

void NntpTestServer::SetLogin(const QByteArray &user, const QByteArray &password, bool required)
{
    std::lock_guard lock(d->mutex);
    d->user = user;
    d->password = password;
    d->loginRequired = required;
}

void NntpTestServer::SetUserReply(int code)
{
    std::lock_guard lock(d->mutex);
    d->userReply = code;
}

void NntpTestServer::SetPasswordRefusal(int code)
{
    std::lock_guard lock(d->mutex);
    d->passwordRefusal = code;
}

void NntpTestServer::SetCommandReply(const QByteArray &keyword, const QByteArray &reply)
{
    std::lock_guard lock(d->mutex);
    d->commandReplies[keyword.toUpper()] = reply;
}

void NntpTestServer::SetReplyHook(std::function<std::optional<QByteArray>(const QByteArray &)> hook)
{
    std::lock_guard lock(d->mutex);
    d->hook = std::move(hook);
}

void NntpTestServer::SetSplit(int pieceBytes, int pauseMicroseconds)
{
    std::lock_guard lock(d->mutex);
    d->pieceBytes = pieceBytes;
    d->piecePauseUs = pauseMicroseconds;
    d->cutPoints.clear();
}

void NntpTestServer::SetCutPoints(const QList<int> &offsets, int pauseMicroseconds)
{
    std::lock_guard lock(d->mutex);
    d->cutPoints = offsets;
    d->piecePauseUs = pauseMicroseconds;
    d->pieceBytes = 0;
}

void NntpTestServer::SetReplyDelay(int milliseconds)
{
    std::lock_guard lock(d->mutex);
    d->replyDelayMs = milliseconds;
}

void NntpTestServer::SetCloseAt(int event, int partialBytes)
{
    std::lock_guard lock(d->mutex);
    d->closeAt = event;
    d->closePartial = partialBytes;
}

void NntpTestServer::SetResetAt(int event)
{
    std::lock_guard lock(d->mutex);
    d->resetAt = event;
}

void NntpTestServer::SetSilentFrom(int event)
{
    std::lock_guard lock(d->mutex);
    d->silentFrom = event;
}

bool NntpTestServer::SetTls(NntpTls mode, const QString &certFile, const QString &keyFile)
{
    SSL_CTX *context = nullptr;
    if (mode != NntpTls::None) {
        context = SSL_CTX_new(TLS_server_method());
        if (!context ||
            SSL_CTX_use_certificate_chain_file(context, certFile.toLocal8Bit().constData()) != 1 ||
            SSL_CTX_use_PrivateKey_file(context, keyFile.toLocal8Bit().constData(),
                                        SSL_FILETYPE_PEM) != 1) {
            SSL_CTX_free(context);
            ERR_clear_error();
            return false;
        }
    }
    std::lock_guard lock(d->mutex);
    if (d->tlsContext)
        SSL_CTX_free(d->tlsContext); // sessions keep their own reference
    d->tlsContext = context;
    d->tls = mode;
    return true;
}

void NntpTestServer::SetTlsFault(NntpTlsFault fault)
{
    std::lock_guard lock(d->mutex);
    d->tlsFault = fault;
}

void NntpTestServer::SetTlsByteAtATime(bool on)
{
    std::lock_guard lock(d->mutex);
    d->tlsByteAtATime = on;
}

void NntpTestServer::SetCapabilities(NntpCapabilities capabilities)
{
    std::lock_guard lock(d->mutex);
    d->capabilities = capabilities;
}

void NntpTestServer::SetHeaderRangeGarbage(bool on)
{
    std::lock_guard lock(d->mutex);
    d->rangeGarbage = on;
}

void NntpTestServer::SetGarbageFrom(int event)
{
    std::lock_guard lock(d->mutex);
    d->garbageFrom = event;
}

QList<QByteArray> NntpTestServer::ReceivedLines() const
{
    std::lock_guard lock(d->mutex);
    return d->received;
}

void NntpTestServer::ClearReceivedLines()
{
    std::lock_guard lock(d->mutex);
    d->received.clear();
}

int NntpTestServer::ConnectionCount() const
{
    std::lock_guard lock(d->mutex);
    return d->connections;
}

int NntpTestServer::OpenConnections() const
{
    std::lock_guard lock(d->mutex);
    return d->open;
}

QByteArray NntpTestServer::HeadReply(const QByteArray &group, qint64 number) const
{
    std::lock_guard lock(d->mutex);
    const auto it = d->groups.find(group);
    return it == d->groups.end() ? QByteArray() : d->HeadOf(it->second, number);
}

QByteArray NntpTestServer::RfcDate(qint64 utcSeconds)
{
    static const char *const days[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // "dd/mm/yyyy hh:mm:ss" taken apart; 1970-01-01 was a Thursday.
    const QByteArray t = modMain::FormatDateText(utcSeconds).toLatin1();
    if (t.isEmpty())
        return {};
    const qint64 day = utcSeconds / 86400 - (utcSeconds % 86400 < 0 ? 1 : 0);
    return QByteArray(days[((day % 7) + 7) % 7]) + ", " + t.left(2) + " " +
           months[t.mid(3, 2).toInt() - 1] + " " + t.mid(6, 4) + " " + t.mid(11, 8) + " +0000";
}

// --- Serving ----------------------------------------------------------------

QByteArray NntpTestServer::Impl::HeadOf(const NntpArticleGroup &g, qint64 n) const
{
    const QByteArray num = QByteArray::number(n);
    const QByteArray id = "<" + num + "." + g.name + "@test.invalid>";
    const qint64 posted = g.postedAt ? g.postedAt(n) : 0;
    const QList<QByteArray> lines = {
        "Path: test.invalid!not-for-mail",
        "From: poster" + num + "@example.invalid (Poster " + num + ")",
        "Newsgroups: " + g.name,
        "Subject: Test article " + num,
        "Date: " + RfcDate(posted),
        "Organization: Pointwind test server",
        "Lines: 3",
        "Message-ID: " + id,
        "X-Complaints-To: abuse@test.invalid",
    };
    return "221 " + num + " " + id + "\r\n" + Stuffed(lines);
}

QByteArray NntpTestServer::Impl::Answer(Client &c, const QByteArray &rawLine, bool &closeAfter)
{
    QByteArray line = rawLine;
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (hook) {
        if (std::optional<QByteArray> r = hook(line))
            return *r;
    }
    const QList<QByteArray> words = line.split(' ');
    const QByteArray keyword = words.value(0).toUpper();
    const QByteArray sub = words.value(1).toUpper();
    QByteArray arg = words.value(1);
    if (keyword == "AUTHINFO")
        arg = words.value(2);
    if (auto it = commandReplies.find(keyword + " " + sub); it != commandReplies.end())
        return it->second;
    if (auto it = commandReplies.find(keyword); it != commandReplies.end())
        return it->second;

    if (keyword == "STARTTLS" && tls == NntpTls::StartTls && !c.ssl) {
        c.startTlsNext = true;
        return "382 Continue with TLS negotiation\r\n";
    }
    if (keyword == "QUIT") {
        closeAfter = true;
        return "205 Bye!\r\n";
    }
    if (keyword == "MODE" && sub == "READER") {
        c.readerMode = true;
        return QByteArray::number(greetingCode) + " Pointwind test server ready\r\n";
    }
    const bool transit = capabilities == NntpCapabilities::ModeReader && !c.readerMode;
    if (keyword == "CAPABILITIES" && capabilities != NntpCapabilities::Unknown) {
        QList<QByteArray> lines = {"VERSION 2", "IMPLEMENTATION Pointwind test server"};
        if (transit)
            lines << "MODE-READER" << "IHAVE";
        else
            lines << "READER";
        if (capabilities == NntpCapabilities::Hdr ||
            (capabilities == NntpCapabilities::ModeReader && !transit))
            lines << "HDR";
        if (capabilities == NntpCapabilities::XhdrOnly)
            lines << "XHDR";
        lines << "LIST ACTIVE NEWSGROUPS";
        if (!user.isEmpty())
            lines << "AUTHINFO USER";
        return "101 Capability list:\r\n" + Stuffed(lines);
    }
    const bool rangeCommand = keyword == "HDR" || keyword == "XHDR";
    if (transit && (keyword == "GROUP" || keyword == "HEAD" || keyword == "LIST" || rangeCommand))
        return "502 Transit service only\r\n";
    if (keyword == "AUTHINFO" && sub == "USER") {
        c.pendingUser = arg;
        c.userGiven = true;
        c.loggedIn = false;
        if (userReply == 381)
            return "381 Enter password\r\n";
        if (userReply == 281 || userReply == 250) {
            c.loggedIn = true;
            return QByteArray::number(userReply) + " Authentication accepted\r\n";
        }
        return QByteArray::number(userReply) + " Authentication refused\r\n";
    }
    if (keyword == "AUTHINFO" && sub == "PASS") {
        if (!c.userGiven)
            return "482 Authentication commands issued out of sequence\r\n";
        const bool ok = user.isEmpty() || (c.pendingUser == user && arg == password);
        c.userGiven = false;
        if (!ok)
            return QByteArray::number(passwordRefusal) + " Authentication failed\r\n";
        c.loggedIn = true;
        return "281 Authentication accepted\r\n";
    }
    const bool needsLogin =
        keyword == "GROUP" || keyword == "HEAD" || keyword == "LIST" || rangeCommand;
    if (needsLogin && loginRequired && !c.loggedIn)
        return "480 Authentication required\r\n";
    if (keyword == "GROUP") {
        const auto it = groups.find(arg);
        if (arg.isEmpty() || it == groups.end())
            return "411 No such group " + arg + "\r\n";
        const NntpArticleGroup &g = it->second;
        c.group = g.name;
        const qint64 count = g.count >= 0 ? g.count : (g.high >= g.low ? g.high - g.low + 1 : 0);
        return "211 " + QByteArray::number(count) + " " + QByteArray::number(g.low) + " " +
               QByteArray::number(g.high) + " " + g.name + "\r\n";
    }
    if (keyword == "HEAD") {
        if (arg.startsWith('<'))
            return "430 No article with that message-id\r\n";
        const auto it = groups.find(c.group);
        if (it == groups.end())
            return "412 No newsgroup selected\r\n";
        if (arg.isEmpty())
            return "420 Current article number is invalid\r\n";
        bool ok = false;
        const qint64 n = arg.toLongLong(&ok);
        const NntpArticleGroup &g = it->second;
        if (!ok || n < g.low || n > g.high || g.missing.count(n) || (g.isMissing && g.isMissing(n)))
            return "423 No article with that number\r\n";
        return HeadOf(g, n);
    }
    if (rangeCommand)
        return HeaderRange(c, keyword, words);
    if (keyword == "LIST" && (sub.isEmpty() || sub == "ACTIVE")) {
        QList<QByteArray> lines;
        for (const auto &[name, g] : groups)
            lines << name + " " + QByteArray::number(g.high) + " " + QByteArray::number(g.low) +
                         " y";
        return "215 list of newsgroups follows\r\n" + Stuffed(lines);
    }
    return "500 Unknown command\r\n";
}

// "HDR Date low-high" (or one number, or "low-"): the Date of every article
// there, a missing one left out.
QByteArray NntpTestServer::Impl::HeaderRange(Client &c, const QByteArray &keyword,
                                             const QList<QByteArray> &words)
{
    const bool works = keyword == "HDR" ? capabilities == NntpCapabilities::Hdr ||
                                              capabilities == NntpCapabilities::ModeReader
                                        : capabilities == NntpCapabilities::Hdr ||
                                              capabilities == NntpCapabilities::XhdrOnly;
    if (!works)
        return "500 Unknown command\r\n";
    const auto it = groups.find(c.group);
    if (it == groups.end())
        return "412 No newsgroup selected\r\n";
    const NntpArticleGroup &g = it->second;
    if (words.value(1).toUpper() != "DATE")
        return "501 Only Date is served here\r\n";
    const QByteArray range = words.value(2);
    const qsizetype dash = range.indexOf('-');
    bool okLow = false, okHigh = true;
    const qint64 low = (dash < 0 ? range : range.left(dash)).toLongLong(&okLow);
    qint64 high = low;
    if (dash >= 0)
        high = range.size() == dash + 1 ? g.high : range.mid(dash + 1).toLongLong(&okHigh);
    if (!okLow || !okHigh)
        return "501 Syntax error\r\n";
    QList<QByteArray> lines;
    for (qint64 n = std::max(low, g.low); n <= std::min(high, g.high); ++n) {
        if (g.missing.count(n) || (g.isMissing && g.isMissing(n)))
            continue;
        lines << QByteArray::number(n) + " " + RfcDate(g.postedAt ? g.postedAt(n) : 0);
        if (rangeGarbage && lines.size() == 2)
            lines << "this line is no header line";
    }
    if (lines.isEmpty())
        return "423 No articles in that range\r\n";
    return (keyword == "HDR" ? "225 Headers follow\r\n" : "221 Header follows\r\n") +
           Stuffed(lines);
}

bool NntpTestServer::Impl::Wait(qint64 microseconds)
{
    pollfd p{wake[0], POLLIN, 0};
    return Poll(&p, 1, microseconds) == 0; // false: stop requested
}

bool NntpTestServer::Impl::SendAll(Socket fd, const char *data, qsizetype size)
{
    while (size > 0) {
        pollfd p[2] = {{fd, POLLOUT, 0}, {wake[0], POLLIN, 0}};
        if (Poll(p, 2, -1) < 0) {
            if (TryAgain())
                continue;
            return false;
        }
        if (p[1].revents)
            return false;
        const ssize_t n = ::send(fd, data, size_t(size), NoSignal | DontWait);
        if (n < 0) {
            if (TryAgain())
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// Plain text to the client, encrypted once TLS is up.
bool NntpTestServer::Impl::SendTo(Client &c, const char *data, qsizetype size)
{
    if (!c.tlsUp)
        return SendAll(c.fd, data, size);
    if (size > 0 && SSL_write(c.ssl, data, int(size)) != int(size))
        return false;
    return FlushTls(c);
}

// Sends the cipher text waiting in the session's queue (at most limit bytes).
bool NntpTestServer::Impl::FlushTls(Client &c, qsizetype limit)
{
    char buffer[16384];
    bool byteAtATime;
    {
        std::lock_guard lock(mutex);
        byteAtATime = tlsByteAtATime;
    }
    int n;
    while (limit != 0 && (n = BIO_read(c.out, buffer,
                                       int(limit > 0 ? std::min<qsizetype>(limit, sizeof buffer)
                                                     : sizeof buffer))) > 0) {
        if (limit > 0)
            limit -= n;
        for (int i = 0; i < n; i += byteAtATime ? 1 : n) {
            if (!SendAll(c.fd, buffer + i, byteAtATime ? 1 : n))
                return false;
            if (byteAtATime && !Wait(50))
                return false;
        }
    }
    return true;
}

void NntpTestServer::Impl::BeginTls(Client &c)
{
    std::lock_guard lock(mutex);
    c.ssl = SSL_new(tlsContext);
    c.in = BIO_new(BIO_s_mem());
    c.out = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(c.in, -1);
    SSL_set_bio(c.ssl, c.in, c.out);
    SSL_set_accept_state(c.ssl);
}

// Cipher text from the client: the handshake moves on, or plain text joins
// the input. False when the connection was dropped.
bool NntpTestServer::Impl::TlsInput(Client &c, const char *data, qsizetype size, int greetingEvent)
{
    BIO_write(c.in, data, int(size));
    if (!c.tlsUp) {
        NntpTlsFault fault;
        {
            std::lock_guard lock(mutex);
            fault = tlsFault;
        }
        if (fault == NntpTlsFault::Silent)
            return true;
        if (fault == NntpTlsFault::Garbage) {
            static const char bogus[] = "\x16\x03\x03\x00\x04\xfe\xfe\xfe\xfe";
            SendAll(c.fd, bogus, sizeof bogus - 1);
            return true;
        }
        const int r = SSL_do_handshake(c.ssl);
        if (fault == NntpTlsFault::CloseMidHandshake) {
            FlushTls(c, 40);
            Drop(c);
            return false;
        }
        if (!FlushTls(c) || (r != 1 && SSL_get_error(c.ssl, r) != SSL_ERROR_WANT_READ)) {
            ERR_clear_error();
            Drop(c);
            return false;
        }
        if (r != 1)
            return true;
        c.tlsUp = true;
        if (c.greetAfterHandshake &&
            (fault == NntpTlsFault::CloseNotify || fault == NntpTlsFault::CutRecord)) {
            const QByteArray greeting = Greeting();
            SSL_write(c.ssl, greeting.constData(), int(greeting.size()));
            if (fault == NntpTlsFault::CloseNotify)
                SSL_shutdown(c.ssl);
            QByteArray out(int(BIO_ctrl_pending(c.out)), '\0');
            BIO_read(c.out, out.data(), int(out.size()));
            if (fault == NntpTlsFault::CutRecord)
                out.chop(5);
            SendAll(c.fd, out.constData(), out.size());
            c.tlsUp = false; // no close_notify of Drop's own
            Drop(c);
            return false;
        }
        if (c.greetAfterHandshake) {
            c.greetAfterHandshake = false;
            Deliver(c, greetingEvent, Greeting(), false, false, Clock::now());
            if (c.fd == NoSocket)
                return false;
        }
    }
    char buffer[16384];
    int n;
    while ((n = SSL_read(c.ssl, buffer, sizeof buffer)) > 0)
        c.input.append(buffer, n);
    const int e = SSL_get_error(c.ssl, n);
    ERR_clear_error();
    if (e != SSL_ERROR_WANT_READ) {
        Drop(c);
        return false;
    }
    return FlushTls(c); // tickets, key updates
}

QByteArray NntpTestServer::Impl::Greeting()
{
    std::lock_guard lock(mutex);
    return QByteArray::number(greetingCode) + " " +
           (greetingText.isEmpty()
                ? QByteArray(greetingCode == 201 ? "Pointwind test server ready (no posting)"
                                                 : "Pointwind test server ready (posting ok)")
                : greetingText) +
           "\r\n";
}

void NntpTestServer::Impl::Drop(Client &c)
{
    if (c.ssl) {
        if (c.tlsUp && c.fd != NoSocket) {
            SSL_shutdown(c.ssl); // close_notify
            FlushTls(c);
        }
        SSL_free(c.ssl);
        ERR_clear_error();
        c.ssl = nullptr;
    }
    Close(c.fd);
    c.fd = NoSocket;
    std::lock_guard lock(mutex);
    --open;
}

void NntpTestServer::Impl::Respond(Client &c, int event, QByteArray reply, bool closeAfter)
{
    int piece, pause, partial;
    bool reset = false;
    QList<int> cuts;
    {
        std::lock_guard lock(mutex);
        if (silentFrom >= 0 && event >= silentFrom)
            return;
        if (resetAt == event) {
            SetOption(c.fd, SOL_SOCKET, SO_LINGER, linger{1, 0});
            reset = true;
        }
        if (closeAt == event) {
            partial = closePartial;
            closeAfter = true;
            reply = reply.left(partial);
        } else if (garbageFrom >= 0 && event >= garbageFrom) {
            reply = "Garbage! \x01\x02 this is no reply\r\n";
        }
        piece = pieceBytes;
        pause = piecePauseUs;
        cuts = cutPoints;
    }
    if (reset) {
        Drop(c);
        return;
    }
    QList<int> starts;
    if (piece > 0) {
        for (int i = 0; i < reply.size(); i += piece)
            starts << i;
    } else {
        starts << 0;
        for (int cut : cuts)
            if (cut > 0 && cut < reply.size())
                starts << cut;
    }
    starts << int(reply.size());
    bool ok = true;
    for (qsizetype i = 0; ok && i + 1 < starts.size(); ++i) {
        if (i > 0 && pause > 0)
            ok = Wait(pause);
        if (ok)
            ok = SendTo(c, reply.constData() + starts[i], starts[i + 1] - starts[i]);
    }
    if (!ok || closeAfter)
        Drop(c);
}

// Sends the reply now, or queues it to leave `delay` after its command
// arrived; replies leave in the order of their commands either way.
void NntpTestServer::Impl::Deliver(Client &c, int event, const QByteArray &reply, bool closeAfter,
                                   bool startTls, Clock::time_point arrived)
{
    int delay;
    {
        std::lock_guard lock(mutex);
        delay = replyDelayMs;
    }
    Outgoing out;
    out.due = arrived + std::chrono::milliseconds(delay);
    out.event = event;
    out.reply = reply;
    out.closeAfter = closeAfter;
    out.startTls = startTls;
    c.outgoing.push_back(std::move(out));
    if (delay <= 0)
        SendDue(c);
}

void NntpTestServer::Impl::SendDue(Client &c)
{
    const Clock::time_point now = Clock::now();
    while (c.fd != NoSocket && !c.outgoing.empty() && c.outgoing.front().due <= now) {
        Outgoing out = std::move(c.outgoing.front());
        c.outgoing.pop_front();
        Respond(c, out.event, out.reply, out.closeAfter);
        if (c.fd != NoSocket && out.startTls) {
            // What was sent behind STARTTLS is no part of the session.
            c.startTlsNext = false;
            c.input.clear();
            BeginTls(c);
        }
    }
    if (c.fd == NoSocket)
        c.outgoing.clear();
}

void NntpTestServer::Impl::Run()
{
    while (!stopping) {
        std::vector<pollfd> fds;
        fds.push_back({wake[0], POLLIN, 0});
        fds.push_back({listenFd, POLLIN, 0});
        qint64 timeout = -1;
        const Clock::time_point now = Clock::now();
        for (const Client &c : clients) {
            // A client whose STARTTLS answer is still queued is not read:
            // its handshake must wait for the answer.
            if (!c.startTlsNext)
                fds.push_back({c.fd, POLLIN, 0});
            if (!c.outgoing.empty()) {
                const qint64 wait = std::max<qint64>(
                    0, std::chrono::duration_cast<std::chrono::microseconds>(
                           c.outgoing.front().due - now)
                           .count());
                timeout = timeout < 0 ? wait : std::min(timeout, wait);
            }
        }
        if (Poll(fds.data(), fds.size(), timeout) < 0) {
            if (TryAgain())
                continue;
            break;
        }
        if (fds[0].revents || stopping)
            break;
        if (fds[1].revents & POLLIN) {
            const Socket fd = Accept(listenFd);
            if (fd != NoSocket) {
                SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
                bool implicitTls;
                {
                    std::lock_guard lock(mutex);
                    ++connections;
                    ++open;
                    implicitTls = tls == NntpTls::Implicit;
                }
                clients.push_back(Client{});
                clients.back().fd = fd;
                if (implicitTls) {
                    BeginTls(clients.back());
                    clients.back().greetAfterHandshake = true;
                } else {
                    Deliver(clients.back(), 0, Greeting(), false, false, Clock::now());
                }
            }
        }
        for (size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            Client *c = nullptr;
            for (Client &k : clients)
                if (k.fd == fds[i].fd)
                    c = &k;
            if (!c)
                continue;
            char buf[65536];
            const ssize_t n = ::recv(c->fd, buf, sizeof buf, DontWait);
            if (n <= 0) {
                if (n < 0 && TryAgain())
                    continue;
                Drop(*c);
                continue;
            }
            if (c->ssl) {
                if (!TlsInput(*c, buf, n, 0))
                    continue;
            } else {
                c->input.append(buf, n);
            }
            const Clock::time_point arrived = Clock::now();
            qsizetype end;
            while (c->fd != NoSocket && !c->startTlsNext && (end = c->input.indexOf('\n')) >= 0) {
                const QByteArray line = c->input.left(end + 1);
                c->input.remove(0, end + 1);
                const int event = ++c->event;
                bool closeAfter = false;
                QByteArray reply;
                {
                    std::lock_guard lock(mutex);
                    received << line;
                    reply = Answer(*c, line, closeAfter);
                }
                Deliver(*c, event, reply, closeAfter, c->startTlsNext, arrived);
            }
        }
        for (Client &c : clients)
            SendDue(c);
        std::erase_if(clients, [](const Client &c) { return c.fd == NoSocket; });
    }
}

} // namespace TestSupport
