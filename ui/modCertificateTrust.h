#pragma once
// Trust in server certificates that the system's authorities do not vouch
// for: the user's question, and the fingerprints the user chose to trust,
// each stored with the server name it was accepted for. The socket layer
// only reports what it found; the owner of the connection decides here
// whether to go on.
#include <QString>
#include <functional>

namespace modCertificateTrust
{

// Asks whether to connect anyway and trust the certificate for this server
// from now on; true means yes. The default shows a real message box; tests
// and the command line put their own in its place.
using QuestionFunction =
    std::function<bool(const QString &server, const QString &reason, const QString &fingerprint)>;

// Replaces the question and returns the one it replaced. An empty function
// restores the message box.
QuestionFunction SetCertificateQuestion(QuestionFunction question);

// Asks the current question.
bool AskCertificateQuestion(const QString &server, const QString &reason,
                            const QString &fingerprint);

// The fingerprint ("AA:BB:...", SHA-256) trusted for this server, empty when none.
QString PinnedFingerprint(const QString &server);
// Stores the fingerprint as the one trusted for this server; false when the
// store could not be written.
bool PinFingerprint(const QString &server, const QString &fingerprint);

} // namespace modCertificateTrust
