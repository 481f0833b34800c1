#pragma once
// The client side of one TLS session, kept apart from any socket: cipher
// text goes in and out through byte arrays, so the owner's non-blocking
// socket drives it from its readiness and nothing here ever waits. The only
// unit that sees the TLS library.
#include <QByteArray>
#include <QString>
#include <memory>

class TlsChannel
{
  public:
    enum class Status { Handshaking, Established, Closed, Failed };
    // What kind of failure ended the session.
    enum class Failure { None, Setup, Handshake, NotTls, Protocol, Truncated };

    TlsChannel();
    ~TlsChannel();
    TlsChannel(const TlsChannel &) = delete;
    TlsChannel &operator=(const TlsChannel &) = delete;

    // Starts the handshake towards the server as the user named it: the
    // name is sent (SNI) and checked against the certificate, an IP
    // literal against the certificate's IP entries. False (with Error())
    // when the library cannot set the session up.
    bool Start(const QString &serverName);

    // Cipher text received from the server. Plain text it yields is
    // appended to *plain. Returns the status after the input.
    Status Feed(const char *data, qsizetype size, QByteArray *plain);
    // The server closed the connection: what is left is decrypted into
    // *plain. Closed when the stream ended on a record boundary, Failed when
    // a record was cut short.
    Status EndOfInput(QByteArray *plain);
    // Encrypts plain text; false once the session cannot carry it.
    bool Write(const QByteArray &plain);
    // A close_notify for the server (best effort, never waits).
    void Shutdown();
    // Cipher text waiting for the socket; taking it empties the queue.
    QByteArray TakeOutput();

    Status State() const { return m_status; }
    // What went wrong, in the library's words when it has any.
    QString Error() const { return m_strError; }
    Failure FailureKind() const { return m_enmFailure; }

    // After the handshake: "TLSv1.3, TLS_AES_256_GCM_SHA384".
    QString Description() const;
    // Empty when the system's authorities vouch for the certificate and it
    // names the server, otherwise why not ("self-signed certificate").
    QString CertificateProblem() const;
    // SHA-256 of the server's certificate, "AA:BB:..." (upper case).
    QString CertificateFingerprint() const;

  private:
    Status Pump(QByteArray *plain);
    Status Fail(Failure kind, const QString &why);
    void TrackRecords(const char *data, qsizetype size);

    struct Impl;
    std::unique_ptr<Impl> d;
    Status m_status = Status::Handshaking;
    QString m_strError;
    Failure m_enmFailure = Failure::None;
    // Record framing of what came in, to tell a clean end from a cut one.
    bool m_blnSawRecord = false;
    qsizetype m_lngHeaderHave = 0;
    unsigned char m_bytHeader[5] = {};
    qsizetype m_lngRecordLeft = 0;
};
