#include "support/InnManifest.h"

namespace TestSupport
{

// INN and its set-up are Linux only; the Linux build runs these tests.
InnManifest LoadInnManifest()
{
    InnManifest inn;
    inn.whyMissing = "INN runs on Linux only: the Linux build runs the INN tests.";
    return inn;
}

} // namespace TestSupport
