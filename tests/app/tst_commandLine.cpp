// The program's command line, run as a process against the scripted news
// server: one connection for many files, failures that stop only their own
// file, the dry run, bad usage and the password's secrecy.
#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>

using TestSupport::NntpArticleGroup;
using TestSupport::ReadAll;

namespace
{

constexpr qint64 High = 110;

// Articles 100..110, article n posted 110 - n + 0.5 days ago: four days back
// is crossed at article 106.
NntpArticleGroup Group(const QByteArray &name)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    NntpArticleGroup group;
    group.name = name;
    group.low = 100;
    group.high = High;
    group.postedAt = [now](qint64 n) { return now - qint64((High - n + 0.5) * 86400); };
    return group;
}

struct Result {
    int status = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject json;
};

} // namespace

class tst_commandLine : public QObject
{
    Q_OBJECT

  private:
    TestSupport::NntpTestServer server;
    QString folder;

    QString File(const QString &group, const QString &lu = QStringLiteral("7"))
    {
        const QString path = folder + QLatin1Char('/') + group + QStringLiteral(".nc1");
        if (!QFile::exists(path))
            TestSupport::WriteSampleGroupFile(path, lu);
        return path;
    }

    Result Run(QStringList arguments, const QString &password = QString())
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // A settings store of its own, on Linux and on Windows.
        const QString settings = TestSupport::MakeTempFolder();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), settings);
        env.insert(QStringLiteral("APPDATA"), settings);
        // No display either.
        for (const char *name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "POINTWIND_PASSWORD"})
            env.remove(QLatin1String(name));
        if (!password.isEmpty())
            env.insert(QStringLiteral("POINTWIND_PASSWORD"), password);
        p.setProcessEnvironment(env);
        arguments = QStringList{"--server", "127.0.0.1", "--port", QString::number(server.Port())} +
                    arguments;
        p.start(QStringLiteral(POINTWIND_PROGRAM), arguments);
        p.closeWriteChannel();
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
            return {};
        const QByteArray out = p.readAllStandardOutput();
        return {p.exitCode(), out, p.readAllStandardError(), QJsonDocument::fromJson(out).object()};
    }

    QStringList Groups()
    {
        QStringList groups;
        for (const QByteArray &line : server.ReceivedLines())
            if (line.startsWith("GROUP "))
                groups << QString::fromLatin1(line.mid(6).trimmed());
        return groups;
    }

  private slots:
    void initTestCase()
    {
        for (const char *name : {"alt.a", "alt.b", "alt.c", "alt.d", "alt.e", "alt.f"})
            server.AddGroup(Group(name));
        QVERIFY(server.Start());
    }

    void init()
    {
        folder = TestSupport::MakeTempFolder();
        server.ClearReceivedLines();
        server.SetLogin({}, {});
    }

    // Named twice, done once; both searches over one login.
    void twoFilesOneConnection()
    {
        const int connections = server.ConnectionCount();
        const Result r =
            Run({"--days", "4", "--json", File("alt.a", "11"), File("alt.b", "22"), File("alt.a")});
        QCOMPARE(r.status, 0);
        QCOMPARE(server.ConnectionCount() - connections, 1);
        QCOMPARE(r.json.value("connections").toInt(), 1);
        QCOMPARE(Groups(), QStringList({"alt.a", "alt.b"}));
        QCOMPARE(ReadAll(File("alt.a")), TestSupport::ExpectedGroupFile("11", "127.0.0.1", 106));
        QCOMPARE(ReadAll(File("alt.b")), TestSupport::ExpectedGroupFile("22", "127.0.0.1", 106));
        QVERIFY(QFile::exists(File("alt.a") + QStringLiteral(".bak")));
        const QJsonObject first = r.json.value("files").toArray().at(0).toObject();
        QCOMPARE(first.value("outcome").toString(), QStringLiteral("rewritten"));
        QCOMPARE(first.value("pointer").toInt(), 106);
        QVERIFY(first.value("requests").toInt() > 0);
        QVERIFY(first.value("rounds").toInt() > 0);
    }

    // Six files over three connections, each logging in once; the rows and
    // the summary come out in the order given.
    void threeConnections()
    {
        const QStringList groups = {"alt.a", "alt.b", "alt.c", "alt.d", "alt.e", "alt.f"};
        QStringList arguments = {"--days", "4", "--json", "--connections", "3"};
        for (int i = 0; i < groups.size(); ++i)
            arguments << File(groups[i], QString::number(10 + i));
        const int connections = server.ConnectionCount();
        const Result r = Run(arguments);
        QCOMPARE(r.status, 0);
        QCOMPARE(server.ConnectionCount() - connections, 3);
        QCOMPARE(r.json.value("connections").toInt(), 3);
        QStringList summary;
        for (const QJsonValue &f : r.json.value("files").toArray())
            summary << f.toObject().value("group").toString();
        QCOMPARE(summary, groups);
        for (int i = 0; i < groups.size(); ++i)
            QCOMPARE(ReadAll(File(groups[i])),
                     TestSupport::ExpectedGroupFile(QByteArray::number(10 + i), "127.0.0.1", 106));
        QStringList rows;
        static const QRegularExpression group(QStringLiteral(" (alt\\.[a-f]): "));
        // Each connection's goodbye comes after all files.
        const QList<QByteArray> lines = r.err.split('\n');
        for (const QByteArray &line : lines.mid(0, lines.size() - 3 - 1))
            if (const auto m = group.match(QString::fromLatin1(line)); m.hasMatch())
                rows << m.captured(1);
        QVERIFY(rows.size() > 6 * 3);
        QVERIFY2(std::is_sorted(rows.cbegin(), rows.cend()), r.err);
        QCOMPARE(r.err.count("Goodbye"), 3);
    }

    // The other connections wait for the first login: a refused one is met once.
    void refusedLoginWithThreeConnections()
    {
        server.SetLogin("reader", "right", true);
        const int connections = server.ConnectionCount();
        const Result r = Run({"--days", "4", "--json", "--user", "reader", "--connections", "3",
                              File("alt.a"), File("alt.b"), File("alt.c")},
                             QStringLiteral("wrong"));
        QCOMPARE(r.status, 1);
        QCOMPARE(server.ConnectionCount() - connections, 1);
        QCOMPARE(r.json.value("files").toArray().size(), 3);
        for (const QJsonValue &f : r.json.value("files").toArray())
            QVERIFY(!f.toObject().value("error").toString().isEmpty());
    }

    // The failing group fails alone; a later run keeps the existing backups
    // and leaves their files alone unless told to replace them.
    void unknownGroupAmongThree()
    {
        const QByteArray missing = ReadAll(File("alt.missing"));
        const Result r = Run({"--days", "4", "--search", "halve", File("alt.a"),
                              File("alt.missing"), File("alt.b")});
        QCOMPARE(r.status, 1);
        QCOMPARE(ReadAll(File("alt.missing")), missing);
        // Halving stops where the window's search stops.
        QCOMPARE(ReadAll(File("alt.b")), TestSupport::ExpectedGroupFile("7", "127.0.0.1", 107));
        QVERIFY2(r.out.contains("alt.missing: failed (Unknown Group alt.missing)"), r.out);
        QVERIFY2(r.out.contains("alt.b: pointer 107, age 3.5 day(s), rewritten"), r.out);

        QVERIFY(TestSupport::WriteSampleGroupFile(File("alt.b"), QStringLiteral("8")));
        const QByteArray kept = ReadAll(File("alt.b"));
        QCOMPARE(Run({"--days", "4", File("alt.b")}).status, 1);
        QCOMPARE(ReadAll(File("alt.b")), kept);
        QCOMPARE(Run({"--days", "4", "--overwrite-backup", File("alt.b")}).status, 0);
        QCOMPARE(ReadAll(File("alt.b")), TestSupport::ExpectedGroupFile("8", "127.0.0.1", 106));
    }

    void dryRunWritesNothing()
    {
        const QByteArray old = ReadAll(File("alt.a"));
        const Result r = Run({"--days", "4", "--dry-run", "--json", File("alt.a")});
        QCOMPARE(r.status, 0);
        QCOMPARE(ReadAll(File("alt.a")), old);
        QVERIFY(!QFile::exists(File("alt.a") + QStringLiteral(".bak")));
        const QJsonObject file = r.json.value("files").toArray().at(0).toObject();
        QCOMPARE(file.value("outcome").toString(), QStringLiteral("dry-run"));
        QCOMPARE(file.value("pointer").toInt(), 106);
    }

    // Windows hands a program its arguments in the ANSI code page unless it
    // asks for the wide ones; the output must not lose them either.
    void fileNameOutsideLatin1()
    {
        folder += QString::fromUtf8("/\u03a9\u30d5\u30a9\u30eb\u30c0");
        QVERIFY(QDir().mkpath(folder));
        const Result r = Run({"--days", "4", "--dry-run", "--json", File("alt.a")});
        QCOMPARE(r.status, 0);
        const QJsonObject file = r.json.value("files").toArray().at(0).toObject();
        QCOMPARE(file.value("file").toString(), QFileInfo(File("alt.a")).absoluteFilePath());
        QCOMPARE(file.value("outcome").toString(), QStringLiteral("dry-run"));
    }

    // Nothing expands "*" before a Windows program sees it; on Linux the
    // shell does, and a name with a "*" in it is taken as it stands.
    void wildcards()
    {
        File("alt.a");
        File("alt.b");
        const Result r = Run({"--days", "4", "--dry-run", "--json", folder + "/alt.*.nc1"});
#ifdef Q_OS_WIN
        QCOMPARE(r.status, 0);
        QCOMPARE(Groups(), QStringList({"alt.a", "alt.b"}));
#else
        QCOMPARE(r.status, 2);
#endif
    }

    void badUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        const QString a = QStringLiteral("%A%");
        QTest::newRow("unknown option") << QStringList{"--days", "4", "--fast", a};
        QTest::newRow("missing value") << QStringList{a, "--days"};
        QTest::newRow("no day count") << QStringList{a};
        QTest::newRow("1000 days") << QStringList{"--days", "1000", a};
        QTest::newRow("no such file") << QStringList{"--days", "4", a, "/nonexistent/x.nc1"};
        QTest::newRow("no .nc1") << QStringList{"--days", "4", "%T%"};
        QTest::newRow("bad search") << QStringList{"--days", "4", "--search", "slow", a};
        QTest::newRow("0 connections") << QStringList{"--days", "4", "--connections", "0", a};
        QTest::newRow("17 connections") << QStringList{"--days", "4", "--connections=17", a};
    }
    void badUsage()
    {
        QFETCH(QStringList, arguments);
        const QString text = folder + QStringLiteral("/notes.txt");
        QVERIFY(TestSupport::WriteSampleGroupFile(text, QStringLiteral("1")));
        arguments.replaceInStrings(QStringLiteral("%A%"), File("alt.a"));
        arguments.replaceInStrings(QStringLiteral("%T%"), text);
        const int connections = server.ConnectionCount();
        const Result r = Run(arguments);
        QCOMPARE(r.status, 2);
        QCOMPARE(r.err.count('\n'), 1);
        QCOMPARE(server.ConnectionCount(), connections);
    }

    void passwordFromTheEnvironment()
    {
        const QByteArray secret = "pw-4f9c1e";
        server.SetLogin("reader", secret, true);
        const Result r = Run({"--days", "4", "--user", "reader", File("alt.a")}, secret);
        QCOMPARE(r.status, 0);
        QVERIFY(server.ReceivedLines().contains("AUTHINFO pass " + secret + "\r\n"));
        QVERIFY(r.out.contains("User reader logged in"));
        QVERIFY(!r.out.contains(secret) && !r.err.contains(secret));
    }
};

QTEST_GUILESS_MAIN(tst_commandLine)
#include "tst_commandLine.moc"
