#pragma once
// The encrypted mode of a socket: between the owner's plain text and the
// cipher text on the wire. It holds what the owner sends during the
// handshake, counts plain text until its cipher text is out, and tells
// when the handshake came through. Cipher text joins the socket's send
// queue and plain text its receive queue; the socket reads and writes the
// wire.
#include <QByteArray>
#include <QString>
#include <functional>

#include "net/ByteQueue.h"
#include "net/TlsChannel.h"

// OnError codes of an encrypted connection, beside the socket codes; the
// description adds the TLS library's reason.
namespace SocketTlsError {
enum : int {
    Setup = 12001,     // no TLS session could be made
    Handshake = 12002, // the handshake failed (an alert, a bad message)
    NotTls = 12003,    // the server answered with something that is no TLS
    Protocol = 12004,  // a bad record or an alert after the handshake
    Truncated = 12005, // the connection ended inside a record
};
}

class SocketTls
{
  public:
    // send and receive are the socket's queues; flush sends what the send
    // queue holds.
    SocketTls(ByteQueue &send, ByteQueue &receive, std::function<void()> flush);
    SocketTls(const SocketTls &) = delete;
    SocketTls &operator=(const SocketTls &) = delete;

    // Starts the handshake towards serverName; false when no session could be set up.
    bool Start(const QString &serverName);
    bool Established() const { return m_objTls.State() == TlsChannel::Status::Established; }

    QString Description() const { return m_objTls.Description(); }
    QString CertificateProblem() const { return m_objTls.CertificateProblem(); }
    QString CertificateFingerprint() const { return m_objTls.CertificateFingerprint(); }

    // Plain text from the owner: held while the handshake runs, sent
    // encrypted once it is through. Dropped when the session cannot carry it.
    void Write(const QByteArray &plain);
    // A close_notify, when the session is up to carry one.
    void Shutdown();

    // What the cipher text from the socket gave.
    struct Input {
        qsizetype Plain = 0;  // bytes of plain text added to the receive queue
        bool Failed = false;  // the session is over: FailureCode says why
        bool Closed = false;  // the server's close_notify
        bool Secured = false; // the handshake came through with this input
    };
    // Room for one read of cipher text from the socket.
    char *ReadBuffer(qsizetype size);
    Input Feed(const char *data, qsizetype size);
    // The stream ended: what is left of the last record.
    Input EndOfInput();

    // Progress in plain text as the owner sent it: all of it once the last
    // of its cipher text is out (cipherDone), none before. False when no
    // plain text is counted.
    bool PlainProgress(bool cipherDone, qint32 *sent, qint32 *remaining);

    // The failure that ended the session, for the owner's OnError: a
    // SocketTlsError code, and its text with the library's reason.
    int FailureCode() const;
    QString FailureDescription() const;

  private:
    void SendOutput();

    ByteQueue &m_objSend;
    ByteQueue &m_objReceive;
    std::function<void()> m_flush;
    TlsChannel m_objTls;
    QByteArray m_bytHeld;        // plain text sent before the handshake is through
    qint64 m_lngPlainQueued = 0; // plain bytes whose cipher text is not all sent
    QByteArray m_bytCipherIn;
};
