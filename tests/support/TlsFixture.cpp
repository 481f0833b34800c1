#include "support/TlsFixture.h"

#include "support/TestFiles.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QStringList>

#include <cstdlib>

namespace TestSupport
{

namespace
{

const QString Names = QStringLiteral("subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost");

bool Run(const QString &folder, const QStringList &arguments, QString *why)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        *why = QStringLiteral("openssl %1: %2")
                   .arg(arguments.join(QLatin1Char(' ')),
                        QString::fromLocal8Bit(openssl.readAll()) + openssl.errorString());
        return false;
    }
    return true;
}

// A key and certificate named base.key/base.pem; signed by the authority
// unless selfSigned.
bool MakeCertificate(const QString &folder, const QString &base, const QString &names,
                     bool selfSigned, QString *why)
{
    // An empty configuration of its own: the certificates do not depend on
    // the machine's openssl.cnf, and an openssl built for Windows has none.
    QStringList args{QStringLiteral("req"),
                     QStringLiteral("-config"),
                     QStringLiteral("openssl.cnf"),
                     QStringLiteral("-x509"),
                     QStringLiteral("-newkey"),
                     QStringLiteral("ec"),
                     QStringLiteral("-pkeyopt"),
                     QStringLiteral("ec_paramgen_curve:prime256v1"),
                     QStringLiteral("-nodes"),
                     QStringLiteral("-days"),
                     QStringLiteral("2"),
                     QStringLiteral("-subj"),
                     QStringLiteral("/CN=") + base,
                     QStringLiteral("-keyout"),
                     base + QStringLiteral(".key"),
                     QStringLiteral("-out"),
                     base + QStringLiteral(".pem"),
                     QStringLiteral("-addext"),
                     names};
    if (!selfSigned)
        args << QStringLiteral("-CA") << QStringLiteral("ca.pem") << QStringLiteral("-CAkey")
             << QStringLiteral("ca.key");
    return Run(folder, args, why);
}

} // namespace

TlsFixture TlsFixture::Make()
{
    TlsFixture f;
    f.folder = MakeTempFolder();
    const auto path = [&](const char *name) {
        return f.folder + QLatin1Char('/') + QLatin1String(name);
    };
    if (!WriteFileBytes(path("openssl.cnf"), {})) {
        f.whyMissing = QStringLiteral("cannot write into ") + f.folder;
        return f;
    }
    const bool ok =
        MakeCertificate(f.folder, QStringLiteral("ca"),
                        QStringLiteral("basicConstraints=critical,CA:TRUE"), true, &f.whyMissing) &&
        MakeCertificate(f.folder, QStringLiteral("server"), Names, false, &f.whyMissing) &&
        MakeCertificate(f.folder, QStringLiteral("self"), Names, true, &f.whyMissing) &&
        MakeCertificate(f.folder, QStringLiteral("self2"), Names, true, &f.whyMissing) &&
        MakeCertificate(f.folder, QStringLiteral("other"),
                        QStringLiteral("subjectAltName=DNS:other.invalid"), false, &f.whyMissing);
    if (!ok)
        return f;
    f.caFile = path("ca.pem");
    f.serverCert = path("server.pem");
    f.serverKey = path("server.key");
    f.selfCert = path("self.pem");
    f.selfKey = path("self.key");
    f.otherSelfCert = path("self2.pem");
    f.otherSelfKey = path("self2.key");
    f.wrongNameCert = path("other.pem");
    f.wrongNameKey = path("other.key");
    return f;
}

void TlsFixture::Trust() const
{
    qputenv("SSL_CERT_FILE", caFile.toLocal8Bit());
    qputenv("SSL_CERT_DIR", folder.toLocal8Bit()); // holds no hashed links: nothing else is trusted
}

} // namespace TestSupport
