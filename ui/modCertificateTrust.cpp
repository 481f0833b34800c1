#include "ui/modCertificateTrust.h"

#include "ui/modSettings.h"

#include <QMessageBox>
#include <QUrl>

namespace modCertificateTrust
{

namespace
{

const QString PinSection = QStringLiteral("TrustedCertificates");

QuestionFunction &Question()
{
    static QuestionFunction question;
    return question;
}

bool AskWithMessageBox(const QString &server, const QString &reason, const QString &fingerprint)
{
    const QString text =
        QStringLiteral("The certificate of %1 is not trusted: %2.\n\nSHA-256 fingerprint: %3\n\n"
                       "Connect anyway and trust this certificate for %1 from now on?")
            .arg(server, reason, fingerprint);
    return QMessageBox::question(nullptr, QStringLiteral("Certificate"), text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

// Settings keys may not hold "/" or "\"; a server name never holds "%".
QString PinKey(const QString &server)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(server.toLower()));
}

} // namespace

QuestionFunction SetCertificateQuestion(QuestionFunction question)
{
    QuestionFunction old = std::move(Question());
    Question() = std::move(question);
    return old;
}

bool AskCertificateQuestion(const QString &server, const QString &reason,
                            const QString &fingerprint)
{
    if (Question())
        return Question()(server, reason, fingerprint);
    return AskWithMessageBox(server, reason, fingerprint);
}

QString PinnedFingerprint(const QString &server)
{
    return modSettings::ReadSetting(modSettings::AppName, PinSection, PinKey(server));
}

bool PinFingerprint(const QString &server, const QString &fingerprint)
{
    return modSettings::WriteSetting(modSettings::AppName, PinSection, PinKey(server), fingerprint);
}

} // namespace modCertificateTrust
