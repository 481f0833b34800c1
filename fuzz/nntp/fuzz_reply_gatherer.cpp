// Bytes from a server, split into reads in every way the input asks for:
// the replies handed on must not depend on the split, each must be whole
// and within its bound, and the gatherer must always make progress.
//
// Input: byte 0 and 1 choose the bounds (small, so that they are reached),
// bytes 2 and 3 seed the split, the rest is what the server sends.
#include "common/modMain.h"
#include "nntp/NntpReplyGatherer.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace
{

struct Outcome {
    std::vector<std::pair<int, QString>> replies;
    bool tooLarge = false;
    qsizetype pending = 0;
    bool operator==(const Outcome &) const = default;
};

void Require(bool ok)
{
    if (!ok)
        std::abort();
}

// Takes out every reply the gatherer has whole, checking each.
bool Drain(NntpReplyGatherer &g, Outcome &out, qsizetype maxReply, qsizetype maxList)
{
    for (;;) {
        const qsizetype before = g.Pending();
        int code = -1;
        QString reply = QStringLiteral("untouched");
        const NntpReplyGatherer::Scan scan = g.Next(code, reply);
        const qsizetype used = before - g.Pending();
        switch (scan) {
        case NntpReplyGatherer::Scan::Incomplete:
            Require(used == 0 && code == -1 && reply == QStringLiteral("untouched"));
            return true;
        case NntpReplyGatherer::Scan::TooLarge:
            Require(used == 0 && before > 0);
            out.tooLarge = true;
            return false;
        case NntpReplyGatherer::Scan::NoReply:
            Require(used >= 2 && code == -1);
            break;
        case NntpReplyGatherer::Scan::Complete: {
            Require(code >= 1 && code <= 999 && modMain::GetReplyCode(reply) == code);
            const qsizetype status = reply.indexOf(QLatin1String("\r\n")) + 2;
            Require(status >= 5);
            if (NntpReplyGatherer::IsMultiLine(code)) {
                Require(used <= (code == 215 ? maxList : maxReply));
                Require(reply.endsWith(QLatin1String("\r\n.\r\n")));
                // Only undone dot-stuffing makes the reply shorter than its bytes.
                Require(reply.size() <= used && used - reply.size() <= reply.count(u'\n'));
            } else {
                Require(used <= maxReply && used == reply.size() && status == reply.size());
            }
            out.replies.emplace_back(code, reply);
            break;
        }
        }
    }
}

Outcome Feed(const QByteArray &stream, const std::vector<qsizetype> &cuts, qsizetype maxReply,
             qsizetype maxList)
{
    NntpReplyGatherer g(maxReply, maxList);
    Outcome out;
    qsizetype at = 0;
    for (qsizetype cut : cuts) {
        g.Append(QByteArrayView(stream).sliced(at, cut - at));
        at = cut;
        if (!Drain(g, out, maxReply, maxList))
            return out;
    }
    out.pending = g.Pending();
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const qsizetype maxReply = 8 + data[0];
    const qsizetype maxList = maxReply + 4 * data[1];
    quint32 seed = quint32(data[2]) << 8 | data[3];
    const QByteArray stream(reinterpret_cast<const char *>(data + 4), qsizetype(size - 4));
    const qsizetype n = stream.size();

    std::vector<qsizetype> whole{n};
    const Outcome reference = Feed(stream, whole, maxReply, maxList);

    std::vector<qsizetype> bytes;
    for (qsizetype i = 1; i <= n; ++i)
        bytes.push_back(i);
    Require(Feed(stream, bytes, maxReply, maxList) == reference);

    // Reads of random lengths, mostly short, now and then long.
    std::vector<qsizetype> random;
    for (qsizetype at = 0; at < n;) {
        seed = seed * 1103515245u + 12345u;
        const quint32 r = seed >> 16;
        at = std::min(n, at + 1 + qsizetype(r % 8 == 0 ? r % 512 : r % 7));
        random.push_back(at);
    }
    Require(Feed(stream, random, maxReply, maxList) == reference);
    return 0;
}
