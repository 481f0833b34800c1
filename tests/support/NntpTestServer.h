#pragma once
// A scripted NNTP server for tests, benchmarks and demos.
//
// It listens on 127.0.0.1 with a port the kernel picks and serves every
// connection from one thread of its own with blocking POSIX calls and poll,
// so it never depends on the event loop of the client under test. It knows
// just enough NNTP for this program (CAPABILITIES, MODE READER, AUTHINFO
// USER/PASS, GROUP, HEAD, HDR/XHDR Date, LIST, QUIT) and has knobs for the
// faults a real server or network can show. Commands sent several at a time
// are answered in order. Every line it receives is recorded byte for byte.
//
// Settings may be changed while clients are connected; they apply from the
// next command on. Events of a connection are counted from 0: event 0 is the
// greeting, event k the k-th command line received on that connection.
#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <set>

namespace TestSupport
{

struct NntpArticleGroup {
    QByteArray name;
    qint64 low = 0;
    qint64 high = 0;
    qint64 count = -1;        // -1: high - low + 1 (0 when high < low)
    std::set<qint64> missing; // numbers inside low..high answered with 423
    // More missing numbers, for groups too large to list them.
    std::function<bool(qint64 number)> isMissing;
    // Posting time of article n in seconds since 1970 UTC.
    std::function<qint64(qint64 number)> postedAt;

    // A group whose articles low..high are posted at even steps from
    // firstPosted to lastPosted (seconds since 1970 UTC).
    static NntpArticleGroup Spread(const QByteArray &name, qint64 low, qint64 high,
                                   qint64 firstPosted, qint64 lastPosted);
};

enum class NntpTls {
    None,
    Implicit, // TLS from the first byte; the greeting follows the handshake
    StartTls, // plain; STARTTLS answers 382 and the handshake follows
};

// What the server does with a client's TLS handshake instead of its part.
enum class NntpTlsFault {
    None,
    CloseMidHandshake, // sends the first bytes of its answer, then closes
    Garbage,           // answers with a record that is no handshake message
    Silent,            // reads, never answers
    // After the handshake:
    CloseNotify, // sends the greeting and close_notify, then closes
    CutRecord,   // sends the greeting's record but its last bytes, then closes
};

// What CAPABILITIES says, and which header range commands work.
enum class NntpCapabilities {
    Unknown,   // CAPABILITIES, HDR and XHDR answer 500, as an old server does
    NoHdr,     // VERSION 2 and READER, no HDR or XHDR
    Hdr,       // READER and HDR (XHDR works too)
    XhdrOnly,  // READER and XHDR; HDR answers 500
    ModeReader // a transit server listing MODE-READER: GROUP, HEAD, HDR and
               // LIST answer 502 until MODE READER, after which it lists
               // READER and HDR
};

class NntpTestServer
{
  public:
    NntpTestServer();
    ~NntpTestServer();
    NntpTestServer(const NntpTestServer &) = delete;
    NntpTestServer &operator=(const NntpTestServer &) = delete;

    // Listens on 127.0.0.1 (or ::1) and starts serving; false when the port
    // cannot be opened. Port 0 lets the kernel choose.
    bool Start(quint16 port = 0, bool ipv6 = false);
    // Closes every connection and the listener and joins the thread.
    void Stop();
    quint16 Port() const;

    // --- What the server holds and how it answers -------------------------
    void AddGroup(const NntpArticleGroup &group);
    void ClearGroups();
    // Greeting line: "<code> <text>". Default 200 with a posting-ok text.
    void SetGreeting(int code, const QByteArray &text = {});
    // AUTHINFO accepts exactly this user and password. With required set,
    // GROUP, HEAD and LIST are answered 480 until a login succeeded.
    void SetLogin(const QByteArray &user, const QByteArray &password, bool required = false);
    // Reply to AUTHINFO USER (default 381, which asks for the password; 281
    // or 250 accept at once, anything else refuses).
    void SetUserReply(int code);
    // Reply to a wrong password (default 481; 482 is the other refusal).
    void SetPasswordRefusal(int code);
    // Reply to every command whose keyword (upper case) matches, whatever the
    // table says: for example 480, 483 or 502 to GROUP.
    void SetCommandReply(const QByteArray &keyword, const QByteArray &reply);
    // Full control: called (on the server thread) for each command line
    // without its line end; a returned value is sent as it stands instead of
    // the normal reply. It must not call back into the server.
    void SetReplyHook(std::function<std::optional<QByteArray>(const QByteArray &line)> hook);

    // TLS with this certificate chain and key (PEM files); false when they
    // cannot be loaded. Applies to connections accepted afterwards.
    bool SetTls(NntpTls mode, const QString &certFile = {}, const QString &keyFile = {});

    void SetCapabilities(NntpCapabilities capabilities);

    // --- Faults ------------------------------------------------------------
    void SetTlsFault(NntpTlsFault fault);
    // Hand the cipher text to the network one byte per write.
    void SetTlsByteAtATime(bool on);
    // Send every reply in pieces of this many bytes (0: whole), pausing
    // between pieces so that they arrive as separate reads.
    void SetSplit(int pieceBytes, int pauseMicroseconds = 500);
    // Send a reply in exactly these pieces: the byte offsets where a new
    // piece begins (empty: no cut points).
    void SetCutPoints(const QList<int> &offsets, int pauseMicroseconds = 2000);
    // Each reply (greeting included) leaves this long after its own command
    // arrived, like a link with that latency: commands sent together are
    // answered together after one delay.
    void SetReplyDelay(int milliseconds);
    // At event k, send the first partialBytes of the reply (0: none) and
    // close the connection. -1 switches it off.
    void SetCloseAt(int event, int partialBytes = 0);
    // At event k, reset the connection (SO_LINGER 0, so the peer reads
    // ECONNRESET) instead of answering. -1 switches it off.
    void SetResetAt(int event);
    // From event k on, read but never answer. -1 switches it off.
    void SetSilentFrom(int event);
    // From event k on, answer with bytes that are no NNTP reply.
    void SetGarbageFrom(int event);
    // HDR and XHDR replies carry a line that is no "number value" line.
    void SetHeaderRangeGarbage(bool on);

    // --- What was seen -----------------------------------------------------
    // Every line received on any connection, with its line end, in order.
    QList<QByteArray> ReceivedLines() const;
    void ClearReceivedLines();
    int ConnectionCount() const; // accepted so far
    int OpenConnections() const;

    // The reply the server would give to a HEAD of this article (what the
    // client should then report), for tests that compare.
    QByteArray HeadReply(const QByteArray &group, qint64 number) const;
    // "Wed, 05 Jan 2005 12:34:56 +0000" of seconds since 1970 UTC (years
    // 1000 to 9999).
    static QByteArray RfcDate(qint64 utcSeconds);

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace TestSupport
