#pragma once
// The INN news server that tests/support/inn_setup.sh installs and starts,
// as the manifest it writes describes it (key=value lines), and only while
// both its reader ports greet within 2 s.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTest>

namespace TestSupport
{

struct InnManifest {
    QMap<QString, QString> values;
    QByteArray whyMissing;  // empty when the server is there
    bool mustExist = false; // on CI the setup is part of the run: a skip would hide it
};

InnManifest LoadInnManifest();

} // namespace TestSupport

// In initTestCase: skips, or on CI fails at once, when there is no INN to test
// with.
#define POINTWIND_REQUIRE_INN(manifest)                                                            \
    do {                                                                                           \
        if (!(manifest).whyMissing.isEmpty()) {                                                    \
            if ((manifest).mustExist)                                                              \
                QFAIL((manifest).whyMissing.constData());                                          \
            QSKIP((manifest).whyMissing.constData());                                              \
        }                                                                                          \
    } while (false)
