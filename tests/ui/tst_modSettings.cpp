#include "support/ModalDriver.h"
#include "support/TestSupport.h"
#include "ui/modSettings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <sys/stat.h>

using namespace modSettings;

namespace
{

mode_t FileMode(const QString &path)
{
    struct stat info {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

} // namespace

class tst_modSettings : public QObject
{
    Q_OBJECT

    QString folder;

  public:
    static void initMain() { TestSupport::PrepareWindowTests(); }

  private slots:
    void init() { folder = TestSupport::UseFreshSettingsFolder(); }

    // On Windows an INI file where the roaming application data is, not the
    // registry.
    void storeIsOneFilePerApplicationWithASectionGroup()
    {
        QVERIFY(WriteSetting(AppName, Section, "NNTPServer", "news.example.org"));
#ifdef Q_OS_WIN
        const QString path = folder + "/Quillo!.ini";
#else
        const QString path = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Quillo!.conf";
#endif
        QCOMPARE(StorePath(AppName), path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QByteArray text = file.readAll();
        QVERIFY2(text.startsWith("[Settings]\n"), text.constData());
        QVERIFY(text.contains("NNTPServer=news.example.org"));
    }

    void absentKeyGivesDefaultEmptyTextStaysEmpty()
    {
        QCOMPARE(ReadSetting(AppName, Section, "NNTPServer", "ex: default"),
                 QString("ex: default"));
        QVERIFY(ReadSetting(AppName, Section, "Path").isNull());
        QVERIFY(WriteSetting(AppName, Section, "NNTPServer", ""));
        QCOMPARE(ReadSetting(AppName, Section, "NNTPServer", "ex: default"), QString(""));
        // Sections and applications do not see each other's keys.
        QCOMPARE(ReadSetting(AppName, "Other", "NNTPServer", "d"), QString("d"));
        QCOMPARE(ReadSetting("Other!", Section, "NNTPServer", "d"), QString("d"));
    }

    void awkwardTextsComeBackExactly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("blanks at both ends") << QString("  news.example.org \t");
        QTest::newRow("commas") << QString("a,b, c,");
        QTest::newRow("quotes") << QString("\"quoted\" and 'single'");
        QTest::newRow("backslashes") << QString("C:\\news\\data\\cacheV3\\groups");
        QTest::newRow("equals and semicolons") << QString("a=b;c #d");
        QTest::newRow("at sign first") << QString("@Variant(\\0\\0\\0\\x7f)");
        QTest::newRow("line breaks") << QString("one\r\ntwo\nthree");
        QTest::newRow("latin-1") << QString::fromLatin1("p\xe4ss w\xf6rd\xff");
    }

    void awkwardTextsComeBackExactly()
    {
        QFETCH(QString, text);
        QVERIFY(WriteSetting(AppName, Section, "Password", text));
        QCOMPARE(ReadSetting(AppName, Section, "Password", "absent"), text);
        // The same from the file alone: a new folder holding a copy is read
        // afresh, not from what this process still keeps of the old one.
        const QString written = StorePath(AppName);
        TestSupport::UseFreshSettingsFolder();
        QVERIFY(QFile::copy(written, StorePath(AppName)));
        QCOMPARE(ReadSetting(AppName, Section, "Password", "absent"), text);
    }

    void storeIsReadableByItsOwnerAlone()
    {
#ifdef Q_OS_WIN
        QSKIP("No mode bits: the user's profile folder keeps the file private");
#endif
        const QString path = StorePath(AppName);
        QVERIFY(WriteSetting(AppName, Section, "Password", "secret"));
        QCOMPARE(FileMode(path), mode_t(0600));

        // A store left readable by others is closed before the next write.
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner |
                                                QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(WriteSetting(AppName, Section, "Password", "other secret"));
        QCOMPARE(FileMode(path), mode_t(0600));
        QCOMPARE(ReadSetting(AppName, Section, "Password"), QString("other secret"));
    }

    void unwritableStoreIsReported()
    {
        // A folder where the file should be: no write can succeed, not even
        // for a privileged user.
        QVERIFY(QDir().mkpath(StorePath(AppName)));
        QVERIFY(!WriteSetting(AppName, Section, "NNTPServer", "news.example.org"));
    }

    void wholeNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        QTest::newRow("blanks around") << "  25  " << true << 25;
        QTest::newRow("half up to even") << "119.5" << true << 120;
        QTest::newRow("half down to even") << "120.5" << true << 120;
        QTest::newRow("negative half") << "-0.5" << true << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("trailing letters") << "25x" << false << 0;
        QTest::newRow("grouping") << "1,000" << false << 0;
        QTest::newRow("not a number") << "nan" << false << 0;
        QTest::newRow("too large") << "3000000000" << false << 0;
    }

    void wholeNumbers()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        const auto number = WholeNumber(text);
        QCOMPARE(number.has_value(), valid);
        if (valid)
            QCOMPARE(*number, value);
    }
};

QTEST_MAIN(tst_modSettings)
#include "tst_modSettings.moc"
