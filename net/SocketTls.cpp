#include "net/SocketTls.h"

#include "net/SocketErrorText.h"

#include <utility>

SocketTls::SocketTls(ByteQueue &send, ByteQueue &receive, std::function<void()> flush)
    : m_objSend(send), m_objReceive(receive), m_flush(std::move(flush))
{
}

bool SocketTls::Start(const QString &serverName)
{
    if (!m_objTls.Start(serverName))
        return false;
    SendOutput();
    return true;
}

// Cipher text the session wants sent joins the send queue behind what is
// already there: records must reach the server whole and in order.
void SocketTls::SendOutput()
{
    m_objSend.Append(m_objTls.TakeOutput());
    if (!m_objSend.IsEmpty())
        m_flush();
}

void SocketTls::Write(const QByteArray &plain)
{
    if (m_objTls.State() == TlsChannel::Status::Handshaking) {
        m_bytHeld += plain;
        return;
    }
    if (!m_objTls.Write(plain))
        return;
    m_lngPlainQueued += plain.size();
    SendOutput();
}

void SocketTls::Shutdown()
{
    if (!Established())
        return;
    m_objTls.Shutdown();
    SendOutput();
}

char *SocketTls::ReadBuffer(qsizetype size)
{
    m_bytCipherIn.resize(size);
    return m_bytCipherIn.data();
}

SocketTls::Input SocketTls::Feed(const char *data, qsizetype size)
{
    const bool handshaking = m_objTls.State() == TlsChannel::Status::Handshaking;
    QByteArray plain;
    const TlsChannel::Status status = m_objTls.Feed(data, size, &plain);
    Input in;
    in.Failed = status == TlsChannel::Status::Failed;
    in.Closed = status == TlsChannel::Status::Closed;
    if (!in.Failed) {
        m_objReceive.Append(plain);
        in.Plain = plain.size();
    }
    in.Secured = !in.Failed && handshaking && status != TlsChannel::Status::Handshaking;
    // What the owner sent during the handshake goes out ahead of anything
    // it sends on hearing that the connection is secured.
    if (in.Secured && m_objTls.Write(m_bytHeld))
        m_lngPlainQueued += std::exchange(m_bytHeld, QByteArray()).size();
    // Last: sending can reach the owner, who may end the session meanwhile.
    SendOutput();
    return in;
}

SocketTls::Input SocketTls::EndOfInput()
{
    QByteArray plain;
    Input in;
    in.Failed = m_objTls.EndOfInput(&plain) == TlsChannel::Status::Failed;
    in.Closed = !in.Failed;
    // Whole records before a cut still reach the owner.
    m_objReceive.Append(plain);
    in.Plain = plain.size();
    return in;
}

bool SocketTls::PlainProgress(bool cipherDone, qint32 *sent, qint32 *remaining)
{
    if (m_lngPlainQueued <= 0)
        return false;
    const qint64 plain = m_lngPlainQueued;
    if (cipherDone)
        m_lngPlainQueued = 0;
    *sent = cipherDone ? qint32(plain) : 0;
    *remaining = cipherDone ? 0 : qint32(plain);
    return true;
}

int SocketTls::FailureCode() const
{
    switch (m_objTls.FailureKind()) {
    case TlsChannel::Failure::Handshake: return SocketTlsError::Handshake;
    case TlsChannel::Failure::NotTls: return SocketTlsError::NotTls;
    case TlsChannel::Failure::Protocol: return SocketTlsError::Protocol;
    case TlsChannel::Failure::Truncated: return SocketTlsError::Truncated;
    default: return SocketTlsError::Setup;
    }
}

QString SocketTls::FailureDescription() const
{
    QString text = SocketErrorText(FailureCode());
    if (!m_objTls.Error().isEmpty())
        text = text.chopped(1) + QStringLiteral(": ") + m_objTls.Error();
    if (!text.endsWith(QLatin1Char('.')) && !text.endsWith(QLatin1Char('?')))
        text += QLatin1Char('.');
    return text;
}
