#include "nntp/NntpReplyGatherer.h"

#include "common/modMain.h"

#include <algorithm>

// Replies that RFC 3977 (and the extensions it lists) sends as a block of
// lines ended by ".". 211 is one only after LISTGROUP, which is never sent.
bool NntpReplyGatherer::IsMultiLine(int code)
{
    switch (code) {
    case 100:
    case 101:
    case 215:
    case 220:
    case 221:
    case 222:
    case 224:
    case 225:
    case 230:
    case 231:
    case 282:
        return true;
    default:
        return false;
    }
}

void NntpReplyGatherer::Append(QByteArrayView data)
{
    if (data.isEmpty())
        return;
    // Replies taken out are cut off the front only now and then, so that a
    // long block arriving in many reads is not copied again at every read.
    const qsizetype used = m_lngStart;
    if (used > 0 && (used == m_bytIncoming.size() || used >= 65536)) {
        m_bytIncoming.remove(0, used);
        m_lngScanFrom = std::max<qsizetype>(0, m_lngScanFrom - used);
        if (m_lngStatusEnd >= 0)
            m_lngStatusEnd -= used;
        m_lngStart = 0;
    }
    m_bytIncoming.append(data);
}

void NntpReplyGatherer::Clear()
{
    m_bytIncoming.clear();
    m_lngStart = 0;
    m_lngStatusEnd = -1;
    m_lngScanFrom = 0;
    m_intCode = 0;
}

NntpReplyGatherer::Scan NntpReplyGatherer::Next(int &code, QString &reply)
{
    const char *data = m_bytIncoming.constData();
    const qsizetype start = m_lngStart;
    const qsizetype size = m_bytIncoming.size();
    const QByteArrayView view(m_bytIncoming);
    if (start >= size)
        return Scan::Incomplete;

    if (m_lngStatusEnd < 0) {
        const qsizetype from = std::max(start, m_lngScanFrom - 1);
        const qsizetype crlf = view.indexOf(QByteArrayView("\r\n"), from);
        if (crlf < 0) {
            m_lngScanFrom = size;
            return size - start > m_lngMaxReply ? Scan::TooLarge : Scan::Incomplete;
        }
        // Checked here too, or whether a long line passes would depend on
        // how it was split into reads.
        if (crlf + 2 - start > m_lngMaxReply)
            return Scan::TooLarge;
        m_lngStatusEnd = crlf + 2;
        m_lngScanFrom = m_lngStatusEnd;
        // The reply code needs the line's first five characters only.
        const qsizetype head = std::min<qsizetype>(m_lngStatusEnd - start, 5);
        m_intCode = modMain::GetReplyCode(QString::fromLatin1(data + start, head));
    }
    const qsizetype statusEnd = m_lngStatusEnd;
    const int found = m_intCode;
    auto takeOut = [&](qsizetype end) {
        m_lngStart = end;
        m_lngStatusEnd = -1;
        m_lngScanFrom = end;
        m_intCode = 0;
    };
    if (found == 0) {
        takeOut(statusEnd);
        return Scan::NoReply;
    }
    if (!IsMultiLine(found)) {
        reply = QString::fromLatin1(data + start, statusEnd - start);
        code = found;
        takeOut(statusEnd);
        return Scan::Complete;
    }

    // The block ends at a line holding a single "."; the status line's own
    // CR LF counts as the line end before it.
    const qsizetype limit = found == 215 ? m_lngMaxListReply : m_lngMaxReply;
    const qsizetype from = std::max(statusEnd - 2, m_lngScanFrom - 4);
    const qsizetype end = view.indexOf(QByteArrayView("\r\n.\r\n"), from);
    if (end < 0) {
        m_lngScanFrom = size;
        return size - start > limit ? Scan::TooLarge : Scan::Incomplete;
    }
    const qsizetype replyEnd = end + 5;
    if (replyEnd - start > limit)
        return Scan::TooLarge;

    QString out = QString::fromLatin1(data + start, statusEnd - start);
    out.reserve(replyEnd - start);
    qsizetype lineStart = statusEnd;
    while (lineStart < replyEnd) {
        const qsizetype lineEnd = view.indexOf(QByteArrayView("\r\n"), lineStart) + 2;
        qsizetype keep = lineStart;
        if (lineEnd - lineStart > 3 && data[lineStart] == '.')
            ++keep; // ".." at a line start stands for "."
        out += QLatin1String(data + keep, lineEnd - keep);
        lineStart = lineEnd;
    }
    reply = out;
    code = found;
    takeOut(replyEnd);
    return Scan::Complete;
}
