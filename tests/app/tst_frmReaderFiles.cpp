// The main window with several group cache files: one connection for all,
// a failing group that does not stop the others, files dropped on the
// window, Cancel between groups and one backup question for all.
#include "app/frmReader.h"
#include "common/modMain.h"
#include "support/ModalDriver.h"
#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <memory>

using namespace TestSupport;

class tst_frmReaderFiles : public QObject
{
    Q_OBJECT

    static constexpr qint64 Now = 1768046400; // 2026-01-10 12:00 UTC
    std::unique_ptr<NntpTestServer> server;
    std::unique_ptr<frmReader> w;
    QString folder;
    QStringList files; // alt.a, alt.b, alt.c; the server knows no alt.b
    QList<QByteArray> before;

    QPushButton *Go() { return Control<QPushButton>(*w, "Command1"); }
    QString Box() { return Control<QLineEdit>(*w, "Text1")->text(); }
    bool WaitForLastRow(const QString &start)
    {
        return QTest::qWaitFor([&] { return LogMessages(*w).last().startsWith(start); }, 20000);
    }
    // Articles 100..110, n posted 110 - n + 0.5 days ago: 4 days find 107.
    static QByteArray Rewound() { return ExpectedGroupFile("1", "127.0.0.1", 107); }

  public:
    static void initMain() { PrepareWindowTests(); }

  private slots:
    void init()
    {
        modMain::SetPresentMomentSource([] { return QDateTime::fromSecsSinceEpoch(Now, Qt::UTC); });
        UseFreshSettingsFolder();
        server = std::make_unique<NntpTestServer>();
        for (const char *name : {"alt.a", "alt.c"})
            server->AddGroup({name, 100, 110, -1, {}, {}, [](qint64 n) {
                                  return Now - qint64((110 - n + 0.5) * 86400);
                              }});
        QVERIFY(StartOnSettingsPort(*server));
        StoreServerSettings(QStringLiteral("127.0.0.1"), server->Port());
        folder = MakeTempFolder();
        files.clear();
        before.clear();
        for (const QString name : {"alt.a", "alt.b", "alt.c"}) {
            files << folder + '/' + name + ".nc1";
            QVERIFY(WriteSampleGroupFile(files.last(), QStringLiteral("1")));
            before << ReadAll(files.last());
        }
        w = std::make_unique<frmReader>();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->OpenGroupFiles(files);
        Control<QLineEdit>(*w, "Text2")->setText(QStringLiteral("4"));
    }

    void cleanup() { w.reset(); }

    void threeGroupsOneUnknown()
    {
        QCOMPARE(Box(), QStringLiteral("3 group cache files"));
        QTest::mouseClick(Go(), Qt::LeftButton);
        QVERIFY(WaitForLastRow("2 rewritten"));
        const QStringList log = LogMessages(*w);
        QCOMPARE(log.last(), QStringLiteral("2 rewritten, 1 failed: alt.b"));
        QVERIFY(log.contains("Group 2 of 3: alt.b") && log.contains("alt.c: ID founded!"));
        QCOMPARE(server->ConnectionCount(), 1);
        QCOMPARE(QList<QByteArray>({ReadAll(files[0]), ReadAll(files[1]), ReadAll(files[2])}),
                 QList<QByteArray>({Rewound(), before[1], Rewound()}));
        QCOMPARE(Control<QProgressBar>(*w, "ProgressBar1")->text(), QStringLiteral("3 of 3"));
    }

    void dropChoosesGroupFilesOnly()
    {
        const QString notes = folder + QStringLiteral("/notes.txt");
        QVERIFY(WriteSampleGroupFile(notes, QStringLiteral("1")));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(files[0]), QUrl::fromLocalFile(notes),
                      QUrl::fromLocalFile(files[2])});
        const qsizetype rows = LogMessages(*w).size();
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(w.get(), &enter);
        QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(w.get(), &drop);
        QCOMPARE(Box(), QStringLiteral("2 group cache files"));
        QCOMPARE(Control<QLineEdit>(*w, "Text1")->toolTip(),
                 QDir::toNativeSeparators(files[0] + '\n' + files[2]));
        const QStringList log = LogMessages(*w).mid(rows);
        QCOMPARE(log.size(), 1);
        QVERIFY(log.first().startsWith(QDir::toNativeSeparators(notes)));
    }

    void cancelInTheSecondGroup()
    {
        server->SetReplyDelay(30);
        Go()->click();
        QVERIFY(QTest::qWaitFor([&] { return LogMessages(*w).contains("Group 2 of 3: alt.b"); },
                                10000));
        Go()->click();
        QCOMPARE(Go()->text(), QStringLiteral("Go"));
        QVERIFY(LogMessages(*w).last().startsWith("Cancelled: 1 of 3 groups done"));
        QVERIFY(
            QTest::qWaitFor([&] { return server->ReceivedLines().last() == "QUIT\r\n"; }, 5000));
        QCOMPARE(server->ConnectionCount(), 1);
        QCOMPARE(QList<QByteArray>({ReadAll(files[0]), ReadAll(files[1]), ReadAll(files[2])}),
                 QList<QByteArray>({Rewound(), before[1], before[2]}));
        // No temporary file of a write is left either.
        QCOMPARE(QDir(folder).entryList(QDir::Files),
                 QStringList({"alt.a.nc1", "alt.a.nc1.bak", "alt.b.nc1", "alt.c.nc1"}));
    }

    void yesToAllAsksOnce()
    {
        w->OpenGroupFiles({files[0], files[2]});
        for (const QString &file : {files[0], files[2]})
            QVERIFY(WriteSampleGroupFile(file + ".bak", QStringLiteral("stale")));
        int asked = 0;
        OnModal<QMessageBox>([&](QMessageBox *box) {
            ++asked;
            box->button(QMessageBox::YesToAll)->click();
        });
        Go()->click();
        QVERIFY(WaitForLastRow("2 rewritten"));
        QCOMPARE(asked, 1);
        QCOMPARE(QList<QByteArray>({ReadAll(files[0] + ".bak"), ReadAll(files[2] + ".bak"),
                                    ReadAll(files[0]), ReadAll(files[2])}),
                 QList<QByteArray>({before[0], before[2], Rewound(), Rewound()}));
    }
};

QTEST_MAIN(tst_frmReaderFiles)
#include "tst_frmReaderFiles.moc"
