#pragma once
// Bytes waiting in one direction of a socket, consumed from the front by
// moving a start offset: a long transfer costs no repeated copying of what
// is still queued. What was consumed is dropped once it outweighs what is
// still there, so each byte is moved a bounded number of times.
#include <QByteArray>

class ByteQueue
{
  public:
    qsizetype Size() const { return m_bytes.size() - m_start; }
    bool IsEmpty() const { return Size() == 0; }
    const char *Data() const { return m_bytes.constData() + m_start; }
    void Clear();
    // Everything queued is replaced.
    void Assign(const QByteArray &bytes);
    void Append(const QByteArray &bytes);
    // The first n bytes are done with.
    void Consume(qsizetype n);
    // Room at the end for a read of up to size bytes straight into the
    // queue; Commit keeps the filled bytes of it (none for a failed read).
    char *Reserve(qsizetype size);
    void Commit(qsizetype filled);
    // The first n bytes, or all of them when n is not within 1..Size(),
    // left in the queue or taken from it.
    QByteArray Peek(qsizetype n) const;
    QByteArray Take(qsizetype n);

  private:
    void Compact();

    QByteArray m_bytes;
    qsizetype m_start = 0;
    qsizetype m_reservedAt = 0;
};
