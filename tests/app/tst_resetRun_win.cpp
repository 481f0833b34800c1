// Windows: a group cache file that another program holds open, under a name
// outside Latin-1 or a path past 260 characters.
#include "app/ResetRun.h"
#include "cache/modFile.h"
#include "support/ModalDriver.h"
#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <windows.h>

using TestSupport::ReadAll;
using Handle = std::unique_ptr<void, decltype(&::CloseHandle)>;

class tst_resetRun_win : public QObject
{
    Q_OBJECT

    TestSupport::NntpTestServer server;
    ResetRun run;

    // The file opened the way another program may hold it.
    static Handle Hold(const QString &path, int share)
    {
        const QString native = QDir::toNativeSeparators(path);
        return Handle(::CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()), GENERIC_READ,
                                    DWORD(share), nullptr, OPEN_EXISTING, 0, nullptr),
                      &::CloseHandle);
    }

    // Runs the reset over the file (group alt.test); the rows of failures.
    QStringList Run(const QString &file)
    {
        QStringList failures;
        connect(&run, &ResetRun::LogRow, this, [&](const QString &text, int kind) {
            if (kind == 3)
                failures << text;
        });
        QSignalSpy ended(&run, &ResetRun::RunEnded);
        if (!run.Start({{QDir::toNativeSeparators(file), "alt.test"}}, "4") || !ended.wait(10000))
            failures << "<no end>";
        run.disconnect(this);
        return failures;
    }

  private slots:
    void initTestCase()
    {
        TestSupport::UseFreshSettingsFolder();
        modFile::SetBackupQuestion([](const QString &) { return int(modFile::AnswerYes); });
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        server.AddGroup(
            TestSupport::NntpArticleGroup::Spread("alt.test", 1, 1000, now - 100 * 86400, now));
        QVERIFY(server.Start());
        run.SetOverrides({QStringLiteral("127.0.0.1"), server.Port(), {}, {}, {}});
    }

    void fileInUse_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("share");
        QTest::newRow("outside Latin-1, shared with nobody")
            << QString::fromUtf8("Новости 日本/alt.тест.nc1") << 0;
        // Readable, so that only the pre-check keeps the backup as it was.
        QTest::newRow("past 260 characters, shared for reading and writing")
            << QStringList(5, QString(60, 'd')).join('/') + "/g.nc1"
            << int(FILE_SHARE_READ | FILE_SHARE_WRITE);
    }

    void fileInUse()
    {
        QFETCH(QString, name);
        QFETCH(int, share);
        const QString file = TestSupport::MakeTempFolder() + '/' + name;
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        QVERIFY(TestSupport::WriteSampleGroupFile(file, "123"));
        QVERIFY(TestSupport::WriteFileBytes(file + ".bak", "earlier"));
        const QByteArray old = ReadAll(file);
        Handle held = Hold(file, share);
        QVERIFY(held.get() != INVALID_HANDLE_VALUE);
        QCOMPARE(Run(file), QStringList{"The group cache file is in use by another program. "
                                        "Close the newsreader and press Go again."});
        held.reset();
        QCOMPARE(ReadAll(file), old);
        QCOMPARE(ReadAll(file + ".bak"), QByteArray("earlier"));

        QCOMPARE(Run(file), QStringList());
        QCOMPARE(ReadAll(file + ".bak"), old);
        QCOMPARE(ReadAll(file), TestSupport::ExpectedGroupFile(
                                    "123", "127.0.0.1", qint64(run.Results().value(0).pointer)));
    }
};

QTEST_GUILESS_MAIN(tst_resetRun_win)
#include "tst_resetRun_win.moc"
