// The client against a news server nobody here wrote: INN, which
// tests/support/inn_setup.sh installs, fills and starts on 127.0.0.1. It
// serves one group of articles posted an hour apart, the first cancelled,
// once to everyone and once behind a login.
#include "NntpRecorder.h"
#include "common/modMain.h"
#include "nntp/CNNTP.h"
#include "support/InnManifest.h"
#include "support/TestSupport.h"

#include <QtTest>


namespace
{
constexpr int Wait = 10000;
}

class tst_NntpInn : public QObject
{
    Q_OBJECT

  private:
    QMap<QString, QString> inn;
    std::unique_ptr<CNNTP> client;
    std::unique_ptr<NntpRecorder> rec;

    quint16 Port(const char *key) const { return quint16(inn.value(QLatin1String(key)).toUInt()); }
    QString Group() const { return inn.value(QStringLiteral("GROUP")); }

    // The record INN should give for article n, as the feed wrote it.
    QString ExpectedHead(qint64 n) const
    {
        const qint64 posted =
            inn.value("FIRST_DATE").toLongLong() + (n - 1) * inn.value("STEP").toLongLong();
        const QString num = QString::number(n);
        return QStringLiteral(
                   "head:Poster %1|Pointwind test article %1|%2|%1.pointwind@test.invalid|%1")
            .arg(num, modMain::FormatDateText(posted));
    }

    void Connect(const char *portKey, const QString &user = {}, const QString &password = {})
    {
        client->Connect(QStringLiteral("127.0.0.1"), Port(portKey), user, password);
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("connected:").size(), 1, Wait);
    }

  private slots:
    void initTestCase()
    {
        const TestSupport::InnManifest manifest = TestSupport::LoadInnManifest();
        POINTWIND_REQUIRE_INN(manifest);
        inn = manifest.values;
        QVERIFY(Port("READER_PORT") > 1024);
        QVERIFY(Port("AUTH_PORT") > 1024);
    }
    void init()
    {
        client = std::make_unique<CNNTP>();
        client->SetTimeOutValue(Wait);
        rec = std::make_unique<NntpRecorder>(client.get());
    }
    void cleanup()
    {
        rec.reset();
        client.reset();
    }

    void readerSession()
    {
        Connect("READER_PORT");
        QCOMPARE(rec->Events,
                 (QStringList{"msg1:Connecting to 127.0.0.1...", "msg1:Connected", "connected:0"}));

        client->SelectGroup(Group());
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:").size(), 1, Wait);
        // The cancelled first article leaves the low mark where it was.
        const QString count = inn.value("COUNT");
        QCOMPARE(rec->Of("group:"), QStringList{"group:1-" + count});
        QVERIFY(rec->Events.contains("msg1:Group " + Group() + " selected"));

        const qint64 last = count.toLongLong();
        int heads = 0;
        for (qint64 n : {qint64(2), last / 2, last, qint64(1), last + 1}) {
            client->DownloadHeader(double(n));
            ++heads;
            QTRY_COMPARE_WITH_TIMEOUT(rec->Of("head:").size(), heads, Wait);
            const QString want =
                n >= 2 && n <= last ? ExpectedHead(n) : QStringLiteral("head:||||%1").arg(n);
            QCOMPARE(rec->Of("head:").last(), want);
        }

        client->DownloadGroups();
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("groups:").size(), 1, Wait);
        QVERIFY(rec->Groups.contains(Group()));

        client->Disconnect();
        QTRY_VERIFY_WITH_TIMEOUT(rec->Events.contains("msg1:Closing connection. Goodbye!"), Wait);
        QCOMPARE(rec->Failures(), QStringList());
    }

    void login()
    {
        Connect("AUTH_PORT", inn.value("USER"), inn.value("PASSWORD"));
        QCOMPARE(rec->Of("connected:"), QStringList{"connected:0"});
        QVERIFY(rec->Events.contains("msg1:User " + inn.value("USER") + " logged in"));
        client->SelectGroup(Group());
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:"), QStringList{"group:1-" + inn.value("COUNT")},
                                  Wait);
        client->DownloadHeader(3);
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("head:"), QStringList{ExpectedHead(3)}, Wait);
        client->Disconnect();
        QTRY_VERIFY_WITH_TIMEOUT(rec->Events.contains("msg1:Closing connection. Goodbye!"), Wait);
        QCOMPARE(rec->Failures(), QStringList());
    }

    void wrongPassword()
    {
        Connect("AUTH_PORT", inn.value("USER"), QStringLiteral("not-the-password"));
        QCOMPARE(rec->Of("connected:"), QStringList{"connected:1"});
        QCOMPARE(rec->Failures(), QStringList{"msg3:User " + inn.value("USER") + " not logged in"});
        QTRY_VERIFY_WITH_TIMEOUT(rec->Events.contains("msg1:Closing connection. Goodbye!"), Wait);
        for (const QString &e : rec->Events)
            QVERIFY(!e.contains(QLatin1String("not-the-password")));
    }

    void loginForgotten()
    {
        // The server's own 480 line tells the user why the group is refused.
        Connect("AUTH_PORT");
        QCOMPARE(rec->Of("connected:"), QStringList{"connected:0"});
        client->SelectGroup(Group());
        QTRY_COMPARE_WITH_TIMEOUT(rec->Of("group:"), QStringList{"group:0-0"}, Wait);
        const QStringList failures = rec->Failures();
        QCOMPARE(failures.size(), 2);
        QVERIFY2(failures[0].startsWith("msg3:480 "), qPrintable(failures[0]));
        QCOMPARE(failures[1], "msg3:Unknown Group " + Group());
    }
};

QTEST_GUILESS_MAIN(tst_NntpInn)
#include "tst_nntp_inn.moc"
