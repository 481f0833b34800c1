#pragma once
// The authorities the operating system trusts, for the TLS library's
// verification, beside those it finds by itself (its default paths and
// SSL_CERT_FILE / SSL_CERT_DIR). Only Windows keeps them where the library
// does not look.
#include <openssl/x509_vfy.h>

namespace SystemTrust {

// Adds the system's trusted roots to the store; returns how many it handed
// over (those the store held already count too).
int AddRoots(X509_STORE *store);

} // namespace SystemTrust
