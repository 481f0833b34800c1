#include "net/TlsChannel.h"

#include "net/SocketApi.h"
#include "net/SystemTrust.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdlib>

namespace
{

// Loading the system's authorities is the slow part of a first handshake:
// one context serves every session, and is rebuilt only when the variables
// that choose the authorities change (tests point them at their own).
SSL_CTX *SharedContext()
{
    static SSL_CTX *context = nullptr;
    static QByteArray madeFor;
    const QByteArray key =
        QByteArray(std::getenv("SSL_CERT_FILE")) + '\n' + QByteArray(std::getenv("SSL_CERT_DIR"));
    if (context && key == madeFor)
        return context;
    SSL_CTX *fresh = SSL_CTX_new(TLS_client_method());
    if (!fresh)
        return nullptr;
    SSL_CTX_set_min_proto_version(fresh, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(fresh);
    SystemTrust::AddRoots(SSL_CTX_get_cert_store(fresh));
    // The check runs in full, but its outcome is the owner's to judge once
    // the handshake is through: the user may trust what the authorities do not.
    SSL_CTX_set_verify(fresh, SSL_VERIFY_NONE, nullptr);
    if (context)
        SSL_CTX_free(context); // sessions hold their own reference
    context = fresh;
    madeFor = key;
    return context;
}

QString LibraryReason(const QString &fallback)
{
    QString reason;
    while (const unsigned long e = ERR_get_error()) {
        if (reason.isEmpty())
            if (const char *text = ERR_reason_error_string(e))
                reason = QString::fromLatin1(text);
    }
    return reason.isEmpty() ? fallback : reason;
}

// The bracketless host when the name is an IP literal, else empty.
QByteArray IpLiteral(const QString &name)
{
    QByteArray host = name.toLatin1();
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    unsigned char buffer[16];
    if (inet_pton(AF_INET, host.constData(), buffer) == 1 ||
        inet_pton(AF_INET6, host.constData(), buffer) == 1)
        return host;
    return {};
}

} // namespace

struct TlsChannel::Impl {
    SSL *ssl = nullptr;
    BIO *in = nullptr;  // cipher text from the server, owned by ssl
    BIO *out = nullptr; // cipher text for the server, owned by ssl
    long verifyResult = X509_V_OK;

    ~Impl()
    {
        if (ssl)
            SSL_free(ssl);
    }
};

TlsChannel::TlsChannel() : d(std::make_unique<Impl>()) {}

TlsChannel::~TlsChannel() = default;

bool TlsChannel::Start(const QString &serverName)
{
    ERR_clear_error();
    SSL_CTX *context = SharedContext();
    if (!context || !(d->ssl = SSL_new(context))) {
        Fail(Failure::Setup, LibraryReason(QStringLiteral("the TLS library could not be set up")));
        return false;
    }
    d->in = BIO_new(BIO_s_mem());
    d->out = BIO_new(BIO_s_mem());
    if (!d->in || !d->out) {
        BIO_free(d->in);
        BIO_free(d->out);
        Fail(Failure::Setup, QStringLiteral("out of memory"));
        return false;
    }
    BIO_set_mem_eof_return(d->in, -1); // an empty queue means "more to come"
    SSL_set_bio(d->ssl, d->in, d->out);
    SSL_set_connect_state(d->ssl);
    const QByteArray ip = IpLiteral(serverName);
    bool named;
    if (!ip.isEmpty()) {
        named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(d->ssl), ip.constData()) == 1;
    } else {
        const QByteArray host = serverName.toLatin1();
        named = SSL_set_tlsext_host_name(d->ssl, host.constData()) == 1 &&
                SSL_set1_host(d->ssl, host.constData()) == 1;
    }
    if (!named) {
        Fail(Failure::Setup, LibraryReason(QStringLiteral("the server name cannot be checked")));
        return false;
    }
    Pump(nullptr); // the ClientHello
    return m_status != Status::Failed;
}

TlsChannel::Status TlsChannel::Fail(Failure kind, const QString &why)
{
    m_status = Status::Failed;
    if (m_enmFailure == Failure::None) {
        m_enmFailure = kind;
        m_strError = why;
    }
    return m_status;
}

void TlsChannel::TrackRecords(const char *data, qsizetype size)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    while (size > 0) {
        if (m_lngRecordLeft > 0) {
            const qsizetype n = std::min(size, m_lngRecordLeft);
            m_lngRecordLeft -= n;
            p += n;
            size -= n;
            continue;
        }
        m_bytHeader[m_lngHeaderHave++] = *p++;
        --size;
        if (m_lngHeaderHave == 5) {
            m_lngHeaderHave = 0;
            m_lngRecordLeft = (qsizetype(m_bytHeader[3]) << 8) | m_bytHeader[4];
        }
    }
}

TlsChannel::Status TlsChannel::Feed(const char *data, qsizetype size, QByteArray *plain)
{
    if (m_status == Status::Failed || m_status == Status::Closed || size <= 0)
        return m_status;
    if (!m_blnSawRecord) {
        // A TLS record starts with a content type of 20 to 24 and a major
        // version of 3; a plain server's greeting starts with a digit.
        const auto first = static_cast<unsigned char>(data[0]);
        if (first < 20 || first > 24 || (size > 1 && data[1] != 3)) {
            QByteArray line = QByteArray(data, std::min<qsizetype>(size, 80));
            line = line.left(line.indexOf('\r') >= 0 ? line.indexOf('\r') : line.size());
            for (char &c : line)
                if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
                    c = '?';
            return Fail(Failure::NotTls, QStringLiteral("it answered \"%1\"; is the port one for "
                                                        "plain connections?")
                                             .arg(QString::fromLatin1(line)));
        }
        m_blnSawRecord = true;
    }
    TrackRecords(data, size);
    if (BIO_write(d->in, data, int(size)) != int(size))
        return Fail(Failure::Protocol, QStringLiteral("out of memory"));
    return Pump(plain);
}

TlsChannel::Status TlsChannel::Pump(QByteArray *plain)
{
    ERR_clear_error();
    if (m_status == Status::Handshaking) {
        const int r = SSL_do_handshake(d->ssl);
        if (r != 1) {
            const int e = SSL_get_error(d->ssl, r);
            if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE)
                return m_status;
            return Fail(Failure::Handshake, LibraryReason(QStringLiteral("the handshake failed")));
        }
        m_status = Status::Established;
        d->verifyResult = SSL_get_verify_result(d->ssl);
    }
    while (m_status == Status::Established && plain) {
        char buffer[16384];
        const int n = SSL_read(d->ssl, buffer, int(sizeof buffer));
        if (n > 0) {
            plain->append(buffer, n);
            continue;
        }
        const int e = SSL_get_error(d->ssl, n);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE)
            break;
        if (e == SSL_ERROR_ZERO_RETURN)
            m_status = Status::Closed; // the server's close_notify
        else
            Fail(Failure::Protocol,
                 LibraryReason(QStringLiteral("a TLS record could not be read")));
    }
    return m_status;
}

TlsChannel::Status TlsChannel::EndOfInput(QByteArray *plain)
{
    if (m_status == Status::Failed || m_status == Status::Closed)
        return m_status;
    Pump(plain);
    if (m_status == Status::Handshaking)
        return Fail(Failure::Handshake,
                    QStringLiteral("the server closed the connection during the handshake"));
    if (m_status == Status::Established && (m_lngHeaderHave > 0 || m_lngRecordLeft > 0))
        return Fail(Failure::Truncated, QStringLiteral("the connection ended inside a TLS record"));
    // Ended between records without close_notify: every NNTP reply carries
    // its own end, so a cut reply is caught there.
    if (m_status == Status::Established)
        m_status = Status::Closed;
    return m_status;
}

bool TlsChannel::Write(const QByteArray &plain)
{
    if (m_status != Status::Established || plain.isEmpty())
        return m_status == Status::Established;
    ERR_clear_error();
    // Memory sinks take everything at once.
    if (SSL_write(d->ssl, plain.constData(), int(plain.size())) != int(plain.size())) {
        Fail(Failure::Protocol, LibraryReason(QStringLiteral("a TLS record could not be written")));
        return false;
    }
    return true;
}

void TlsChannel::Shutdown()
{
    if (m_status != Status::Established || !d->ssl)
        return;
    ERR_clear_error();
    SSL_shutdown(d->ssl);
    ERR_clear_error();
}

QByteArray TlsChannel::TakeOutput()
{
    QByteArray out;
    if (!d->out)
        return out;
    const size_t pending = BIO_ctrl_pending(d->out);
    if (pending == 0)
        return out;
    out.resize(qsizetype(pending));
    const int n = BIO_read(d->out, out.data(), int(pending));
    out.resize(std::max(n, 0));
    return out;
}

QString TlsChannel::Description() const
{
    if (!d->ssl)
        return {};
    return QStringLiteral("%1, %2").arg(QString::fromLatin1(SSL_get_version(d->ssl)),
                                        QString::fromLatin1(SSL_get_cipher_name(d->ssl)));
}

QString TlsChannel::CertificateProblem() const
{
    if (!d->ssl)
        return QStringLiteral("no TLS session");
    X509 *cert = SSL_get0_peer_certificate(d->ssl);
    if (!cert)
        return QStringLiteral("the server sent no certificate");
    if (d->verifyResult == X509_V_OK)
        return {};
    return QString::fromLatin1(X509_verify_cert_error_string(d->verifyResult));
}

QString TlsChannel::CertificateFingerprint() const
{
    X509 *cert = d->ssl ? SSL_get0_peer_certificate(d->ssl) : nullptr;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!cert || X509_digest(cert, EVP_sha256(), digest, &length) != 1)
        return {};
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex(':').toUpper());
}
