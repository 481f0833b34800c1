#include "cache/modNBZ.h"
#include "support/ChildProcess.h"
#include "support/TestFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cmath>
#include <limits>

namespace
{

const QByteArray
    kWorkedExample("76604\rnew = 0\rall = 0\rver = 2\rlu  = 923444937\r\rnews\r1234\r\r"
                   "\0\0\0",
                   61);

QString LuOf(const QByteArray &oldContent)
{
    const QString path = TestSupport::MakeTempFolder() + "/g.nc1";
    if (!TestSupport::WriteFileBytes(path, oldContent))
        return QStringLiteral("<unwritable>");
    QString lu;
    if (!modNBZ::ReadLuValue(path, lu))
        return QStringLiteral("<failed>");
    return lu;
}

} // namespace

class tst_modNBZ : public QObject
{
    Q_OBJECT

  private slots:
    void groupName_data();
    void groupName();
    void workedExample();
    void luValue_data();
    void luValue();
    void luValueAcrossReadChunks();
    void fileLayout_data();
    void fileLayout();
    void longServerNameReducesProducts();
    void refusedValuesWriteNothing_data();
    void refusedValuesWriteNothing();
    void failuresKeepOldFile();
    void fullDiskKeepsOldFile();
    void symbolicLinkStays();
};

void tst_modNBZ::groupName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("group");
    QTest::newRow("upper-case extension") << "C:\\x\\alt.test.NC1"
                                          << "alt.test";
    QTest::newRow("other extension") << "C:\\x\\alt.test.txt"
                                     << "";
    QTest::newRow("no folder") << "alt.test.nc1"
                               << "alt.test";
    QTest::newRow("slashes") << "/home/u/groups/Alt.Binaries.nc1"
                             << "Alt.Binaries";
    QTest::newRow("mixed separators") << "C:\\x/y\\comp.lang.nc1"
                                      << "comp.lang";
    QTest::newRow("extension only") << "/x/.nc1"
                                    << "";
    QTest::newRow("shorter than the extension") << "nc1"
                                                << "";
}

void tst_modNBZ::groupName()
{
    QFETCH(QString, path);
    QFETCH(QString, group);
    QCOMPARE(modNBZ::GroupNameFromPath(path), group);
}

void tst_modNBZ::workedExample()
{
    const QString dir = TestSupport::MakeTempFolder();
    // Missing old file: created, lu defaults.
    QCOMPARE(int(modNBZ::WriteGroupCacheFile(dir + "/a.nc1", "news", 1234)), 1);
    QCOMPARE(TestSupport::ReadFileBytes(dir + "/a.nc1"), kWorkedExample);

    // An old file with that lu value, much larger than the new one.
    QVERIFY(TestSupport::WriteFileBytes(dir + "/b.nc1",
                                        "9\rnew = 5\rlu  = 923444937\r" + QByteArray(100000, 'x')));
    QCOMPARE(int(modNBZ::WriteGroupCacheFile(dir + "\\b.nc1", "news", 1234)), 1);
    QCOMPARE(TestSupport::ReadFileBytes(dir + "/b.nc1"), kWorkedExample);
}

void tst_modNBZ::luValue_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QString>("lu");
    QTest::newRow("long form") << QByteArray("1\rlu  = 123\r") << "123";
    QTest::newRow("short form") << QByteArray("1\rlu=42\r") << "42";
    QTest::newRow("spaces trimmed, text kept") << QByteArray("lu  =   -0012.50  \r") << "-0012.50";
    QTest::newRow("neither form") << QByteArray("new = 0\rall = 0\r") << "923444937";
    QTest::newRow("not a number") << QByteArray("lu  = 12a\r") << "923444937";
    QTest::newRow("empty value") << QByteArray("lu=\r") << "923444937";
    QTest::newRow("single space matches neither") << QByteArray("lu = 5\rlu=6\r") << "6";
    QTest::newRow("first line decides: short") << QByteArray("lu=7\rlu  = 8\r") << "7";
    QTest::newRow("first line decides: long") << QByteArray("lu  = 8\rlu=7\r") << "8";
    QTest::newRow("non-number stops the search") << QByteArray("lu=x\rlu=7\r") << "923444937";
    QTest::newRow("long form wins on one line") << QByteArray("lu=1 lu  = 2\r") << "923444937";
    QTest::newRow("value taken from fixed position") << QByteArray("xlu  =77\r") << "923444937";
    QTest::newRow("CR LF line ends") << QByteArray("a\r\nlu=5\r\nb\r\n") << "5";
    QTest::newRow("LF alone is no line end") << QByteArray("a\nlu=5\r") << "923444937";
    QTest::newRow("last line without line end") << QByteArray("a\rlu  = 31") << "31";
    QTest::newRow("value on an overlong line")
        << QByteArray("lu=1" + QByteArray(10000, '0') + "\r") << "923444937";
    QTest::newRow("empty file") << QByteArray() << "923444937";
}

void tst_modNBZ::luValue()
{
    QFETCH(QByteArray, old);
    QFETCH(QString, lu);
    QCOMPARE(LuOf(old), lu);
}

void tst_modNBZ::luValueAcrossReadChunks()
{
    // The file is read in 1 MiB pieces; a key, a value or a CR LF pair cut
    // by a piece's end must read as if whole.
    const qsizetype chunk = 1 << 20;
    const auto padded = [chunk](qsizetype keyAt, const QByteArray &tail) {
        QByteArray bytes;
        while (bytes.size() < keyAt - 100)
            bytes += QByteArray(99, 'h') + '\r';
        bytes += QByteArray(keyAt - 1 - bytes.size(), 'h') + '\r';
        return bytes + tail;
    };
    for (qsizetype cut = 1; cut <= 5; ++cut)
        QCOMPARE(LuOf(padded(chunk - cut, "lu  = 77\r")), QString("77"));
    QCOMPARE(LuOf(padded(chunk - 2, "lu=1234567\r")), QString("1234567"));
    // CR at the end of one piece, LF at the start of the next.
    QCOMPARE(LuOf(padded(chunk, "\nlu=5\r")), QString("5"));
    QCOMPARE(LuOf(padded(chunk - 1, "\nlu=5\r").replace(chunk - 2, 1, "\r")), QString("5"));
}

void tst_modNBZ::fileLayout_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<double>("pointer");
    QTest::addColumn<QByteArray>("pointerText");
    QTest::newRow("small") << "news" << 0.0 << QByteArray("0");
    QTest::newRow("above 2^31") << "news.example.org" << 2147483648.0 << QByteArray("2147483648");
    QTest::newRow("above 2^32") << "n" << 6000000001.0 << QByteArray("6000000001");
    QTest::newRow("2^53") << "n" << 9007199254740992.0 << QByteArray("9007199254740992");
    QTest::newRow("Latin-1 server name") << QString::fromUtf8("nöws") << 7.0 << QByteArray("7");
    QTest::newRow("placeholder in server name") << "#LOCALPOINTER#" << 5.0 << QByteArray("5");
}

void tst_modNBZ::fileLayout()
{
    QFETCH(QString, server);
    QFETCH(double, pointer);
    QFETCH(QByteArray, pointerText);

    const QString path = TestSupport::MakeTempFolder() + "/g.nc1";
    QVERIFY(TestSupport::WriteFileBytes(path, "lu=55\r"));
    QCOMPARE(int(modNBZ::WriteGroupCacheFile(path, server, pointer)), 1);
    const QByteArray bytes = TestSupport::ReadFileBytes(path);

    const qsizetype checksumEnd = bytes.indexOf('\r');
    QVERIFY(checksumEnd > 0);
    const QByteArray body = bytes.mid(checksumEnd + 1);
    QCOMPARE(body, "new = 0\rall = 0\rver = 2\rlu  = 55\r\r" + server.toLatin1() + "\r" +
                       pointerText + QByteArray("\r\r\0\0\0", 5));
    QCOMPARE(bytes.size(), checksumEnd + 1 + 38 + 2 + server.size() + pointerText.size());
    QVERIFY(!bytes.contains('\n'));
}

void tst_modNBZ::longServerNameReducesProducts()
{
    // Past about 258 characters the 16-bit reduction of each product
    // matters: 7137466 without it.
    const QByteArray file = modNBZ::BuildGroupCacheFile("923444937", QString(300, 'z'), 1234);
    QVERIFY(file.startsWith("2353338\rnew = 0\r"));
    QCOMPARE(
        modNBZ::BuildGroupCacheFile("923444937", "news.example.org", 9007199254740992.0).left(7),
        QByteArray("184149\r"));
}

void tst_modNBZ::refusedValuesWriteNothing_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<double>("pointer");
    QTest::newRow("CR in server name") << "news\rx" << 1.0;
    QTest::newRow("LF in server name") << "news\n" << 1.0;
    QTest::newRow("NUL in server name") << QString::fromLatin1("ne\0ws", 5) << 1.0;
    QTest::newRow("outside Latin-1") << QString::fromUtf8("новости") << 1.0;
    QTest::newRow("negative pointer") << "news" << -1.0;
    QTest::newRow("pointer past 2^53") << "news" << 18014398509481984.0;
    QTest::newRow("NaN pointer") << "news" << std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("infinite pointer") << "news" << std::numeric_limits<double>::infinity();
}

void tst_modNBZ::refusedValuesWriteNothing()
{
    QFETCH(QString, server);
    QFETCH(double, pointer);
    const QString dir = TestSupport::MakeTempFolder();
    QVERIFY(TestSupport::WriteFileBytes(dir + "/old.nc1", "old content\r"));
    QCOMPARE(int(modNBZ::WriteGroupCacheFile(dir + "/old.nc1", server, pointer)), 0);
    QCOMPARE(int(modNBZ::WriteGroupCacheFile(dir + "/new.nc1", server, pointer)), 0);
    QCOMPARE(TestSupport::ReadFileBytes(dir + "/old.nc1"), QByteArray("old content\r"));
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"old.nc1"});
}

void tst_modNBZ::failuresKeepOldFile()
{
    // A path that is a folder.
    const QString dir = TestSupport::MakeTempFolder();
    QVERIFY(QDir(dir).mkdir("folder.nc1"));
    QCOMPARE(int(modNBZ::WriteGroupCacheFile(dir + "/folder.nc1", "news", 1)), 0);
    QVERIFY(QFileInfo(dir + "/folder.nc1").isDir());
    if (!TestSupport::CanRunInChild())
        QSKIP("no child process that gives up its rights here");

    // A folder the user may not write to (the child gives up root, for
    // whom folder permissions do not apply).
    const QString locked = TestSupport::MakeTempFolder();
    QVERIFY(TestSupport::WriteFileBytes(locked + "/g.nc1", "lu=1\rold\r"));
    QVERIFY(QFile::setPermissions(locked + "/g.nc1", QFile::ReadOwner | QFile::WriteOwner |
                                                         QFile::ReadGroup | QFile::ReadOther));
    TestSupport::OpenToEveryone(locked);
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                              QFile::ExeGroup | QFile::ReadOther |
                                              QFile::ExeOther));
    const QString path = locked + "/g.nc1";
    const int result = TestSupport::RunInChild([&path] {
        if (!TestSupport::DropRoot())
            return 100;
        return int(modNBZ::WriteGroupCacheFile(path, "news", 1));
    });
    TestSupport::OpenToEveryone(locked);
    QCOMPARE(result, 0);
    QCOMPARE(TestSupport::ReadFileBytes(path), QByteArray("lu=1\rold\r"));
    QCOMPARE(QDir(locked).entryList(QDir::Files | QDir::Hidden), QStringList{"g.nc1"});

    // An old file that exists but cannot be read.
    QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
    const int unreadable = TestSupport::RunInChild([&path] {
        if (!TestSupport::DropRoot())
            return 100;
        return int(modNBZ::WriteGroupCacheFile(path, "news", 1));
    });
    QCOMPARE(unreadable, 0);
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(TestSupport::ReadFileBytes(path), QByteArray("lu=1\rold\r"));
}

void tst_modNBZ::fullDiskKeepsOldFile()
{
    const QString dir = TestSupport::MakeTempFolder();
    const QString path = dir + "/g.nc1";
    QVERIFY(TestSupport::WriteFileBytes(path, "lu=1\rold\r"));
    if (!TestSupport::CanRunInChild())
        QSKIP("no child process with a file size limit here");
    // Room for part of the new file only.
    const int result = TestSupport::RunInChild([&path] {
        if (!TestSupport::LimitFileSize(40))
            return 100;
        return int(modNBZ::WriteGroupCacheFile(path, "news", 1234));
    });
    QCOMPARE(result, 0);
    QCOMPARE(TestSupport::ReadFileBytes(path), QByteArray("lu=1\rold\r"));
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"g.nc1"});
}

void tst_modNBZ::symbolicLinkStays()
{
#ifdef _WIN32
    QSKIP("QFile::link makes a shortcut on Windows, no symbolic link");
#endif
    const QString dir = TestSupport::MakeTempFolder();
    QVERIFY(QDir(dir).mkdir("real"));
    QVERIFY(TestSupport::WriteFileBytes(dir + "/real/g.nc1", "lu  = 923444937\r"));
    QVERIFY(QFile::link(dir + "/real/g.nc1", dir + "/link.nc1"));
    QCOMPARE(int(modNBZ::WriteGroupCacheFile(dir + "/link.nc1", "news", 1234)), 1);
    QVERIFY(QFileInfo(dir + "/link.nc1").isSymLink());
    QCOMPARE(TestSupport::ReadFileBytes(dir + "/real/g.nc1"), kWorkedExample);
}

QTEST_GUILESS_MAIN(tst_modNBZ)
#include "tst_modNBZ.moc"
