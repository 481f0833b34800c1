#pragma once
// Turns the bytes a news server sends, in whatever pieces they arrive, into
// whole replies: a status line, or for the codes that carry a block of lines
// the status line, the block with its dot-stuffing undone, and the "." line.
// Knows nothing of sockets or sessions, so the same bytes give the same
// replies however they were split.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

class NntpReplyGatherer
{
  public:
    enum class Scan {
        Incomplete, // nothing more to hand on until more bytes arrive
        Complete,   // a whole reply was taken out
        NoReply,    // a line without a reply code was taken out and dropped
        TooLarge    // the reply being gathered is over its bound; give up the connection
    };

    // Largest reply taken in, counted in received bytes.
    static constexpr qsizetype MaxReplySize = qsizetype(1) << 20;      // status line, header
    static constexpr qsizetype MaxListReplySize = qsizetype(64) << 20; // group list

    explicit NntpReplyGatherer(qsizetype maxReply = MaxReplySize,
                               qsizetype maxListReply = MaxListReplySize)
        : m_lngMaxReply(maxReply), m_lngMaxListReply(maxListReply)
    {
    }

    // Whether a code's reply goes on past its status line.
    static bool IsMultiLine(int code);

    void Append(QByteArrayView data);
    // Takes out the next reply, if it is whole. On Complete, code and reply
    // are set; otherwise both are left alone.
    Scan Next(int &code, QString &reply);
    // Received bytes not yet taken out.
    bool HasPending() const { return m_lngStart < m_bytIncoming.size(); }
    qsizetype Pending() const { return m_bytIncoming.size() - m_lngStart; }
    void Clear();

  private:
    qsizetype m_lngMaxReply;
    qsizetype m_lngMaxListReply;
    // Bytes received, read from m_lngStart on; the reply being gathered has
    // its status line end at m_lngStatusEnd (-1 until seen) with code
    // m_intCode, and its end is searched from m_lngScanFrom on.
    QByteArray m_bytIncoming;
    qsizetype m_lngStart = 0;
    qsizetype m_lngStatusEnd = -1;
    qsizetype m_lngScanFrom = 0;
    int m_intCode = 0;
};
