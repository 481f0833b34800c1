// The main window with several group cache files: all of them over one
// connection, a failing group that does not stop the others, files dropped
// on the window, Cancel between groups and one backup question for all.
#include "app/frmReader.h"
#include "common/modMain.h"
#include "support/ModalDriver.h"
#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <memory>

namespace
{

const qint64 Now = QDateTime(QDate(2026, 1, 10), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();

} // namespace

class tst_frmReaderFiles : public QObject
{
    Q_OBJECT

  private:
    std::unique_ptr<TestSupport::NntpTestServer> server;
    std::unique_ptr<frmReader> w;
    QString folder;
    QStringList files; // alt.a, alt.b, alt.c; the server knows alt.a and alt.c

    QPushButton *Go() { return TestSupport::Control<QPushButton>(*w, "Command1"); }
    bool WaitForFinished()
    {
        return QTest::qWaitFor([&] { return Go()->text() == QLatin1String("Finished!"); }, 20000);
    }
    // Articles 100..110, n posted 110 - n + 0.5 days ago: 4 days find 107.
    static QByteArray Rewound() { return TestSupport::ExpectedGroupFile("1", "127.0.0.1", 107); }

  public:
    static void initMain() { TestSupport::PrepareWindowTests(); }

  private slots:
    void initTestCase()
    {
        modMain::SetPresentMomentSource([] { return QDateTime::fromSecsSinceEpoch(Now, Qt::UTC); });
    }

    void init()
    {
        TestSupport::UseFreshSettingsFolder();
        server = std::make_unique<TestSupport::NntpTestServer>();
        for (const char *name : {"alt.a", "alt.c"}) {
            TestSupport::NntpArticleGroup group;
            group.name = name;
            group.low = 100;
            group.high = 110;
            group.postedAt = [](qint64 n) { return Now - qint64((110 - n + 0.5) * 86400); };
            server->AddGroup(group);
        }
        QVERIFY(TestSupport::StartOnSettingsPort(*server));
        TestSupport::StoreServerSettings(QStringLiteral("127.0.0.1"), server->Port());
        folder = TestSupport::MakeTempFolder();
        files.clear();
        for (const char *name : {"alt.a", "alt.b", "alt.c"}) {
            files << folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".nc1");
            QVERIFY(TestSupport::WriteSampleGroupFile(files.last(), QStringLiteral("1")));
        }
        w = std::make_unique<frmReader>();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->OpenGroupFiles(files);
        auto *days = TestSupport::Control<QLineEdit>(*w, "Text2");
        days->setText(QStringLiteral("4"));
    }

    void cleanup()
    {
        w.reset();
        server.reset();
    }

    void threeGroupsOneUnknown()
    {
        QCOMPARE(TestSupport::Control<QLineEdit>(*w, "Text1")->text(),
                 QStringLiteral("3 group cache files"));
        const QByteArray untouched = TestSupport::ReadAll(files.at(1));
        QTest::mouseClick(Go(), Qt::LeftButton);
        QVERIFY(WaitForFinished());
        QVERIFY(QTest::qWaitFor(
            [&] { return TestSupport::LogMessages(*w).last().startsWith("2 rewritten"); }, 5000));
        const QStringList log = TestSupport::LogMessages(*w);
        QCOMPARE(log.last(), QStringLiteral("2 rewritten, 1 failed: alt.b"));
        QVERIFY(log.contains(QStringLiteral("Group 2 of 3: alt.b")));
        QVERIFY(log.contains(QStringLiteral("alt.c: ID founded!")));
        QCOMPARE(server->ConnectionCount(), 1);
        QCOMPARE(TestSupport::ReadAll(files.at(0)), Rewound());
        QCOMPARE(TestSupport::ReadAll(files.at(1)), untouched);
        QCOMPARE(TestSupport::ReadAll(files.at(2)), Rewound());
        auto *progress = TestSupport::Control<QProgressBar>(*w, "ProgressBar1");
        QCOMPARE(progress->value(), 3);
        QCOMPARE(progress->maximum(), 3);
    }

    void dropChoosesGroupFilesOnly()
    {
        const QString notes = folder + QStringLiteral("/notes.txt");
        QVERIFY(QFile(notes).open(QIODevice::WriteOnly));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(files.at(0)), QUrl::fromLocalFile(notes),
                      QUrl::fromLocalFile(files.at(2))});
        const int rows = int(TestSupport::LogMessages(*w).size());
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(w.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(w.get(), &drop);
        const QLineEdit *box = TestSupport::Control<QLineEdit>(*w, "Text1");
        QCOMPARE(box->text(), QStringLiteral("2 group cache files"));
        QCOMPARE(box->toolTip(), QDir::toNativeSeparators(files.at(0) + '\n' + files.at(2)));
        const QStringList log = TestSupport::LogMessages(*w).mid(rows);
        QCOMPARE(log.size(), 1);
        QVERIFY(log.first().startsWith(QDir::toNativeSeparators(notes)));
    }

    // Cancel in the second group: the first stays written, the rest as they
    // were, and the one connection is left with QUIT.
    void cancelInTheSecondGroup()
    {
        server->SetReplyDelay(30);
        QList<QByteArray> before;
        for (const QString &file : files)
            before << TestSupport::ReadAll(file);
        Go()->click();
        QVERIFY(QTest::qWaitFor(
            [&] { return TestSupport::LogMessages(*w).contains("Group 2 of 3: alt.b"); }, 10000));
        Go()->click();
        QCOMPARE(Go()->text(), QStringLiteral("Go"));
        QVERIFY(TestSupport::LogMessages(*w).last().startsWith("Cancelled: 1 of 3 groups done"));
        QVERIFY(QTest::qWaitFor([&] { return server->ReceivedLines().last() == "QUIT \r\n"; },
                                5000));
        QCOMPARE(TestSupport::ReadAll(files.at(0)), Rewound());
        QCOMPARE(TestSupport::ReadAll(files.at(1)), before.at(1));
        QCOMPARE(TestSupport::ReadAll(files.at(2)), before.at(2));
        // No temporary file of a write left behind either.
        QCOMPARE(QDir(folder).entryList(QDir::Files),
                 QStringList({"alt.a.nc1", "alt.a.nc1.bak", "alt.b.nc1", "alt.c.nc1"}));
        QCOMPARE(server->ConnectionCount(), 1);
    }

    void yesToAllAsksOnce()
    {
        w->OpenGroupFiles({files.at(0), files.at(2)});
        QList<QByteArray> old;
        for (const QString &file : {files.at(0), files.at(2)}) {
            old << TestSupport::ReadAll(file);
            QFile backup(file + QStringLiteral(".bak"));
            QVERIFY(backup.open(QIODevice::WriteOnly) && backup.write("stale") == 5);
        }
        int asked = 0;
        auto answer = [&](QMessageBox *box) {
            ++asked;
            box->button(QMessageBox::YesToAll)->click();
        };
        auto first = TestSupport::OnModal<QMessageBox>(answer);
        Go()->click();
        QVERIFY(WaitForFinished());
        QVERIFY(*first);
        QCOMPARE(asked, 1);
        QCOMPARE(TestSupport::ReadAll(files.at(0) + ".bak"), old.at(0));
        QCOMPARE(TestSupport::ReadAll(files.at(2) + ".bak"), old.at(1));
        QCOMPARE(TestSupport::ReadAll(files.at(0)), Rewound());
        QCOMPARE(TestSupport::ReadAll(files.at(2)), Rewound());
    }
};

QTEST_MAIN(tst_frmReaderFiles)
#include "tst_frmReaderFiles.moc"
