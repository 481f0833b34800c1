#include "support/NntpTestServer.h"

#include "common/modMain.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace TestSupport
{

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

struct Client {
    int fd = -1;
    QByteArray input;
    int event = 0;
    QByteArray group;
    QByteArray pendingUser;
    bool userGiven = false;
    bool loggedIn = false;
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
    // Record (guarded by mutex)
    QList<QByteArray> received;
    int connections = 0;
    int open = 0;
    // Runtime
    int listenFd = -1;
    int wake[2] = {-1, -1};
    quint16 port = 0;
    std::atomic<bool> stopping{false};
    std::thread thread;
    std::vector<Client> clients;

    void Run();
    bool Wait(qint64 microseconds);
    bool SendAll(int fd, const char *data, qsizetype size);
    void Respond(Client &c, int event, QByteArray reply, bool closeAfter);
    QByteArray Answer(Client &c, const QByteArray &line, bool &closeAfter);
    QByteArray HeadOf(const NntpArticleGroup &g, qint64 n) const;
    void Drop(Client &c);
};

NntpTestServer::NntpTestServer() : d(std::make_unique<Impl>()) {}

NntpTestServer::~NntpTestServer()
{
    Stop();
}

bool NntpTestServer::Start(quint16 port)
{
    if (d->thread.joinable())
        return true;
    d->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (d->listenFd < 0)
        return false;
    int one = 1;
    ::setsockopt(d->listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(d->listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(d->listenFd, 16) != 0 ||
        ::getsockname(d->listenFd, reinterpret_cast<sockaddr *>(&addr), &len) != 0 ||
        ::pipe2(d->wake, O_CLOEXEC) != 0) {
        ::close(d->listenFd);
        d->listenFd = -1;
        return false;
    }
    d->port = ntohs(addr.sin_port);
    d->stopping = false;
    d->thread = std::thread([this] { d->Run(); });
    return true;
}

void NntpTestServer::Stop()
{
    if (!d->thread.joinable())
        return;
    d->stopping = true;
    const char b = 'x';
    [[maybe_unused]] auto n = ::write(d->wake[1], &b, 1);
    d->thread.join();
    for (Client &c : d->clients)
        ::close(c.fd);
    d->clients.clear();
    ::close(d->listenFd);
    ::close(d->wake[0]);
    ::close(d->wake[1]);
    d->listenFd = d->wake[0] = d->wake[1] = -1;
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

    if (keyword == "QUIT") {
        closeAfter = true;
        return "205 Bye!\r\n";
    }
    if (keyword == "MODE" && sub == "READER")
        return QByteArray::number(greetingCode) + " Pointwind test server ready\r\n";
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
    const bool needsLogin = keyword == "GROUP" || keyword == "HEAD" || keyword == "LIST";
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
    if (keyword == "LIST" && (sub.isEmpty() || sub == "ACTIVE")) {
        QList<QByteArray> lines;
        for (const auto &[name, g] : groups)
            lines << name + " " + QByteArray::number(g.high) + " " + QByteArray::number(g.low) +
                         " y";
        return "215 list of newsgroups follows\r\n" + Stuffed(lines);
    }
    return "500 Unknown command\r\n";
}

bool NntpTestServer::Impl::Wait(qint64 microseconds)
{
    pollfd p{wake[0], POLLIN, 0};
    const timespec ts{time_t(microseconds / 1000000), long(microseconds % 1000000) * 1000};
    return ::ppoll(&p, 1, &ts, nullptr) == 0; // false: stop requested
}

bool NntpTestServer::Impl::SendAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        pollfd p[2] = {{fd, POLLOUT, 0}, {wake[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (p[1].revents)
            return false;
        const ssize_t n = ::send(fd, data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

void NntpTestServer::Impl::Drop(Client &c)
{
    if (c.fd >= 0)
        ::close(c.fd);
    c.fd = -1;
    std::lock_guard lock(mutex);
    --open;
}

void NntpTestServer::Impl::Respond(Client &c, int event, QByteArray reply, bool closeAfter)
{
    int delay, piece, pause, partial;
    bool reset = false;
    QList<int> cuts;
    {
        std::lock_guard lock(mutex);
        if (silentFrom >= 0 && event >= silentFrom)
            return;
        if (resetAt == event) {
            const linger hard{1, 0};
            ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            reset = true;
        }
        if (closeAt == event) {
            partial = closePartial;
            closeAfter = true;
            reply = reply.left(partial);
        } else if (garbageFrom >= 0 && event >= garbageFrom) {
            reply = "Garbage! \x01\x02 this is no reply\r\n";
        }
        delay = replyDelayMs;
        piece = pieceBytes;
        pause = piecePauseUs;
        cuts = cutPoints;
    }
    if (reset) {
        Drop(c);
        return;
    }
    if (delay > 0 && !Wait(qint64(delay) * 1000))
        return;
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
            ok = SendAll(c.fd, reply.constData() + starts[i], starts[i + 1] - starts[i]);
    }
    if (!ok || closeAfter)
        Drop(c);
}

void NntpTestServer::Impl::Run()
{
    while (!stopping) {
        std::vector<pollfd> fds;
        fds.push_back({wake[0], POLLIN, 0});
        fds.push_back({listenFd, POLLIN, 0});
        for (const Client &c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents || stopping)
            break;
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                int one = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                QByteArray greeting;
                {
                    std::lock_guard lock(mutex);
                    ++connections;
                    ++open;
                    greeting = QByteArray::number(greetingCode) + " " +
                               (greetingText.isEmpty()
                                    ? QByteArray(greetingCode == 201
                                                     ? "Pointwind test server ready (no posting)"
                                                     : "Pointwind test server ready (posting ok)")
                                    : greetingText) +
                               "\r\n";
                }
                clients.push_back(Client{fd, {}, 0, {}, {}, false, false});
                Respond(clients.back(), 0, greeting, false);
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
            const ssize_t n = ::recv(c->fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0) {
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                Drop(*c);
                continue;
            }
            c->input.append(buf, n);
            qsizetype end;
            while (c->fd >= 0 && (end = c->input.indexOf('\n')) >= 0) {
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
                Respond(*c, event, reply, closeAfter);
            }
        }
        std::erase_if(clients, [](const Client &c) { return c.fd < 0; });
    }
}

} // namespace TestSupport
