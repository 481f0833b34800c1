#include "net/SocketTls.h"

#include "net/SocketErrorText.h"

bool SocketTls::Start(const QString &serverName) { return m_objTls.Start(serverName); }

SocketTls::Written SocketTls::Write(const QByteArray &plain)
{
    if (m_objTls.State() == TlsChannel::Status::Handshaking) {
        m_bytHeld += plain;
        return Written::Held;
    }
    if (!m_objTls.Write(plain))
        return Written::Refused;
    m_lngPlainQueued += plain.size();
    return Written::Encrypted;
}

bool SocketTls::Shutdown()
{
    if (!Established())
        return false;
    m_objTls.Shutdown();
    return true;
}

char *SocketTls::ReadBuffer(qsizetype size)
{
    m_bytCipherIn.resize(size);
    return m_bytCipherIn.data();
}

SocketTls::Input SocketTls::Feed(const char *data, qsizetype size)
{
    const bool handshaking = m_objTls.State() == TlsChannel::Status::Handshaking;
    Input in;
    const TlsChannel::Status status = m_objTls.Feed(data, size, &in.Plain);
    in.Failed = status == TlsChannel::Status::Failed;
    in.Closed = status == TlsChannel::Status::Closed;
    in.Secured = !in.Failed && handshaking && status != TlsChannel::Status::Handshaking;
    return in;
}

SocketTls::Input SocketTls::EndOfInput()
{
    Input in;
    in.Failed = m_objTls.EndOfInput(&in.Plain) == TlsChannel::Status::Failed;
    in.Closed = !in.Failed;
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
