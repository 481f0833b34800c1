#include "support/InnManifest.h"

#include <QFile>

#include <unistd.h>

namespace TestSupport
{

InnManifest LoadInnManifest()
{
    InnManifest inn;
    if (::geteuid() != 0) {
        inn.whyMissing = "The INN test needs root: run tests/support/inn_setup.sh as root, then "
                         "this test as root.";
        return inn;
    }
    const QString path =
        qEnvironmentVariable("POINTWIND_INN_MANIFEST", "/var/lib/pointwind-inn/inn.env");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        inn.whyMissing = "INN is not set up (no " + path.toLocal8Bit() +
                         "): run `bash tests/support/inn_setup.sh` as root first.";
        inn.mustExist = !qEnvironmentVariableIsEmpty("CI");
        return inn;
    }
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            inn.values.insert(QString::fromLatin1(line.left(eq)),
                              QString::fromLatin1(line.mid(eq + 1)));
    }
    return inn;
}

} // namespace TestSupport
