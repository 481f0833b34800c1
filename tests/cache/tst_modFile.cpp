#include "cache/modFile.h"
#include "support/ChildProcess.h"
#include "support/TestFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace
{

// Answers the backup question with a fixed answer and records what it was
// asked; restores the previous question when it goes.
class ScriptedQuestion
{
  public:
    explicit ScriptedQuestion(int answer)
    {
        m_previous = modFile::SetBackupQuestion([this, answer](const QString &text) {
            m_asked << text;
            return answer;
        });
    }
    ~ScriptedQuestion() { modFile::SetBackupQuestion(m_previous); }
    QStringList m_asked;

  private:
    modFile::QuestionFunction m_previous;
};

} // namespace

class tst_modFile : public QObject
{
    Q_OBJECT

  private slots:
    void pathParts_data();
    void pathParts();
    void fileExists();
    void backupOutcomes_data();
    void backupOutcomes();
    void failedCopyKeepsEarlierBackup();
    void fullDiskKeepsEarlierBackup();
    void temporaryFileOfAnotherWriter();
};

void tst_modFile::pathParts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("backslashes") << "C:\\a\\b\\alt.test.nc1"
                                 << "C:\\a\\b"
                                 << "alt.test.nc1";
    QTest::newRow("slashes") << "a/b/c.nc1"
                             << "a/b"
                             << "c.nc1";
    QTest::newRow("mixed, last one counts") << "C:\\a/b\\c.nc1"
                                            << "C:\\a/b"
                                            << "c.nc1";
    QTest::newRow("no folder") << "alt.test.nc1"
                               << ""
                               << "alt.test.nc1";
    QTest::newRow("root") << "/x.nc1"
                          << ""
                          << "x.nc1";
    QTest::newRow("trailing separator") << "C:\\a\\"
                                        << "C:\\a"
                                        << "";
}

void tst_modFile::pathParts()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QCOMPARE(modFile::FolderOfPath(path), folder);
    QCOMPARE(modFile::FileNameOfPath(path), name);
}

void tst_modFile::fileExists()
{
    const QString dir = TestSupport::MakeTempFolder();
    QVERIFY(TestSupport::WriteFileBytes(dir + "/f.nc1", "x"));
    QVERIFY(!modFile::FileExists(QString()));
    QVERIFY(!modFile::FileExists(dir));
    QVERIFY(!modFile::FileExists(dir + "/missing.nc1"));
    QVERIFY(modFile::FileExists(dir + "/f.nc1"));
    QVERIFY(modFile::FileExists(QString(dir + "/f.nc1").replace('/', '\\')));
}

void tst_modFile::backupOutcomes_data()
{
    QTest::addColumn<bool>("earlierBackup");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("backupAfter");
    QTest::newRow("no backup yet: copies without asking") << false << -99 << 6 << QByteArray("new");
    QTest::newRow("Yes replaces") << true << int(modFile::AnswerYes) << 6 << QByteArray("new");
    QTest::newRow("No keeps") << true << int(modFile::AnswerNo) << 7 << QByteArray("old");
    QTest::newRow("Cancel keeps") << true << int(modFile::AnswerCancel) << -1 << QByteArray("old");
}

void tst_modFile::backupOutcomes()
{
    QFETCH(bool, earlierBackup);
    QFETCH(int, answer);
    QFETCH(int, result);
    QFETCH(QByteArray, backupAfter);

    const QString path = TestSupport::MakeTempFolder() + "/alt.test.nc1";
    QVERIFY(TestSupport::WriteFileBytes(path, "new"));
    if (earlierBackup)
        QVERIFY(TestSupport::WriteFileBytes(path + ".bak", "old"));

    ScriptedQuestion question(answer);
    QCOMPARE(int(modFile::BackupFile(path)), result);
    QCOMPARE(TestSupport::ReadFileBytes(path + ".bak"), backupAfter);
    QCOMPARE(TestSupport::ReadFileBytes(path), QByteArray("new"));
    if (earlierBackup)
        QCOMPARE(question.m_asked,
                 QStringList{path + ".bak already exists.\r\nDo you want to overwrite it?"});
    else
        QVERIFY(question.m_asked.isEmpty());
}

void tst_modFile::failedCopyKeepsEarlierBackup()
{
    // The source went missing after the question was answered with Yes.
    const QString path = TestSupport::MakeTempFolder() + "/gone.nc1";
    QVERIFY(TestSupport::WriteFileBytes(path + ".bak", "old"));
    ScriptedQuestion question(modFile::AnswerYes);
    QCOMPARE(int(modFile::BackupFile(path)), 0);
    QCOMPARE(TestSupport::ReadFileBytes(path + ".bak"), QByteArray("old"));

    // No earlier backup: a failed copy leaves none behind.
    const QString other = TestSupport::MakeTempFolder() + "/gone.nc1";
    QCOMPARE(int(modFile::BackupFile(other)), 0);
    QVERIFY(!QFile::exists(other + ".bak"));
}

void tst_modFile::fullDiskKeepsEarlierBackup()
{
    const QString dir = TestSupport::MakeTempFolder();
    const QString path = dir + "/big.nc1";
    QVERIFY(TestSupport::WriteFileBytes(path, QByteArray(3 << 20, 'h')));
    QVERIFY(TestSupport::WriteFileBytes(path + ".bak", "old"));
    if (!TestSupport::CanRunInChild())
        QSKIP("no child process with a file size limit here");

    const int result = TestSupport::RunInChild([&path] {
        modFile::SetBackupQuestion([](const QString &) { return int(modFile::AnswerYes); });
        if (!TestSupport::LimitFileSize(1 << 20))
            return 100;
        return modFile::BackupFile(path) == 0 ? 0 : 1;
    });
    QCOMPARE(result, 0);
    QCOMPARE(TestSupport::ReadFileBytes(path + ".bak"), QByteArray("old"));
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden),
             QStringList({"big.nc1", "big.nc1.bak"}));
}

void tst_modFile::temporaryFileOfAnotherWriter()
{
#ifdef _WIN32
    QSKIP("the writer at work is held with flock, and a symbolic link is made");
#else
    const QString dir = TestSupport::MakeTempFolder();
    const QString path = dir + "/g.nc1";
    const QString temp = modFile::TemporaryPathFor(path);
    QCOMPARE(temp, dir + "/.g.nc1.pointwind-tmp");
    QVERIFY(TestSupport::WriteFileBytes(path, "old"));
    const auto write = [&path](const QByteArray &bytes) {
        return modFile::ReplaceFileSafely(path, [&bytes](QFile &file) {
            return modFile::WriteAll(file, bytes.constData(), bytes.size());
        });
    };

    // A writer still at work holds its temporary file locked: it is left
    // alone and this write gives up, keeping the old file.
    QVERIFY(TestSupport::WriteFileBytes(temp, "half"));
    const int held = ::open(QFile::encodeName(temp).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
    QVERIFY(!write("new"));
    QCOMPARE(TestSupport::ReadFileBytes(temp), QByteArray("half"));
    QCOMPARE(TestSupport::ReadFileBytes(path), QByteArray("old"));

    // Once that writer is gone, what it left is taken over.
    ::close(held);
    QVERIFY(write("new"));
    QCOMPARE(TestSupport::ReadFileBytes(path), QByteArray("new"));
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"g.nc1"});

    // Whatever stands under that name and is no plain file is not written
    // through, nor removed.
    QVERIFY(TestSupport::WriteFileBytes(dir + "/other", "other"));
    QVERIFY(QFile::link(dir + "/other", temp));
    QVERIFY(!write("newer"));
    QCOMPARE(TestSupport::ReadFileBytes(dir + "/other"), QByteArray("other"));
    QCOMPARE(TestSupport::ReadFileBytes(path), QByteArray("new"));
    QVERIFY(QFileInfo(temp).isSymLink());
#endif
}

QTEST_GUILESS_MAIN(tst_modFile)
#include "tst_modFile.moc"
