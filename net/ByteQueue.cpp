#include "net/ByteQueue.h"

#include <algorithm>
#include <utility>

void ByteQueue::Clear()
{
    m_bytes.clear();
    m_start = 0;
}

void ByteQueue::Assign(const QByteArray &bytes)
{
    m_bytes = bytes;
    m_start = 0;
}

void ByteQueue::Compact()
{
    if (m_start > 0 && m_start >= m_bytes.size() - m_start) {
        m_bytes.remove(0, m_start);
        m_start = 0;
    }
}

void ByteQueue::Append(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    Compact();
    m_bytes += bytes;
}

void ByteQueue::Consume(qsizetype n)
{
    m_start += std::clamp<qsizetype>(n, 0, Size());
    if (m_start == m_bytes.size())
        Clear();
}

char *ByteQueue::Reserve(qsizetype size)
{
    Compact();
    m_reservedAt = m_bytes.size();
    m_bytes.resize(m_reservedAt + size);
    return m_bytes.data() + m_reservedAt;
}

void ByteQueue::Commit(qsizetype filled)
{
    m_bytes.resize(m_reservedAt + std::max<qsizetype>(filled, 0));
}

QByteArray ByteQueue::Peek(qsizetype n) const
{
    return m_bytes.mid(m_start, n >= 1 && n <= Size() ? n : Size());
}

QByteArray ByteQueue::Take(qsizetype n)
{
    if (n < 1 || n >= Size()) {
        if (m_start == 0) {
            QByteArray all = std::move(m_bytes); // the whole queue changes hands without a copy
            Clear();
            return all;
        }
        n = Size();
    }
    QByteArray taken = m_bytes.mid(m_start, n);
    Consume(n);
    return taken;
}
