#pragma once
// Throwaway certificates for TLS tests, made with the openssl command in a
// temporary folder: an authority, a server certificate it signed for
// 127.0.0.1, ::1 and localhost, two self-signed ones for the same names and
// one the authority signed for another name. Trust() points the TLS
// library of this process at the authority alone.
#include <QString>

namespace TestSupport
{

struct TlsFixture {
    QString folder;
    QString caFile;
    QString serverCert, serverKey;       // signed, right names
    QString selfCert, selfKey;           // self-signed, right names
    QString otherSelfCert, otherSelfKey; // a second self-signed one
    QString wrongNameCert, wrongNameKey; // signed, for other.invalid only
    QString whyMissing;                  // empty when everything was made

    static TlsFixture Make();
    void Trust() const;
};

} // namespace TestSupport
