// The trusted roots of the user's and the machine's certificate stores.
#include "net/SystemTrust.h"

#include <windows.h>
#include <wincrypt.h>
// After the Windows headers: OpenSSL's take back the names wincrypt.h defines.
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>

namespace {

// A root the store's owner has limited to other uses than proving a
// server's identity is not taken; one without limits is.
bool ServesServerAuthentication(PCCERT_CONTEXT certificate)
{
    DWORD size = 0;
    if (!::CertGetEnhancedKeyUsage(certificate, 0, nullptr, &size))
        return false;
    auto buffer = std::make_unique<unsigned char[]>(size);
    auto *usage = reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.get());
    if (!::CertGetEnhancedKeyUsage(certificate, 0, usage, &size))
        return false;
    if (usage->cUsageIdentifier == 0)
        // No usage at all: either every use is allowed, or the owner disabled
        // the root for everything.
        return ::GetLastError() == DWORD(CRYPT_E_NOT_FOUND);
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i)
        if (std::strcmp(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_SERVER_AUTH) == 0)
            return true;
    return false;
}

int AddStore(X509_STORE *store, DWORD location)
{
    HCERTSTORE roots = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                       location | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG,
                                       L"ROOT");
    if (!roots)
        return 0;
    int added = 0;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = ::CertEnumCertificatesInStore(roots, certificate))) {
        // An expired root beside its renewal would only get in the way.
        if (!(certificate->dwCertEncodingType & X509_ASN_ENCODING) ||
            ::CertVerifyTimeValidity(nullptr, certificate->pCertInfo) != 0 ||
            !ServesServerAuthentication(certificate))
            continue;
        const unsigned char *der = certificate->pbCertEncoded;
        X509 *x509 = d2i_X509(nullptr, &der, long(certificate->cbCertEncoded));
        if (!x509)
            continue;
        // The user's store shows the machine's roots too: a root met twice
        // is no failure.
        if (X509_STORE_add_cert(store, x509) == 1)
            ++added;
        X509_free(x509);
    }
    ::CertCloseStore(roots, 0);
    return added;
}

} // namespace

int SystemTrust::AddRoots(X509_STORE *store)
{
    if (!store)
        return 0;
    const int added =
        AddStore(store, CERT_SYSTEM_STORE_CURRENT_USER) + AddStore(store, CERT_SYSTEM_STORE_LOCAL_MACHINE);
    ERR_clear_error(); // what a root the library could not take left behind
    return added;
}
