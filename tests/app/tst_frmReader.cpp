// The main window without a server: its start state, the day-count keys and
// spinner, opening a group cache file, and the log.
#include "app/frmReader.h"
#include "support/ModalDriver.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"
#include "ui/modSettings.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <memory>

class tst_frmReader : public QObject
{
    Q_OBJECT

  private:
    std::unique_ptr<frmReader> w;

    template <class T> T *Control(const char *name) { return TestSupport::Control<T>(*w, name); }
    QLineEdit *Text2() { return Control<QLineEdit>("Text2"); }
    QScrollBar *VScroll1() { return Control<QScrollBar>("VScroll1"); }
    QTreeWidget *lstLog() { return Control<QTreeWidget>("lstLog"); }

    // Empties the day count the way a user does: select all, then Delete.
    void ClearDays()
    {
        Text2()->setFocus();
        Text2()->selectAll();
        QTest::keyClick(Text2(), Qt::Key_Delete);
        QCOMPARE(Text2()->text(), QString());
    }

    // Accepts the next open dialog with `path` (or cancels it when empty)
    // after checking the folder it opened in.
    void OpenWithDialog(const QString &path, const QString &expectFolder)
    {
        QString folderSeen;
        auto done = TestSupport::OnModal<QFileDialog>([&](QFileDialog *dialog) {
            folderSeen = dialog->directory().absolutePath();
            TestSupport::AnswerFileDialog(dialog, path);
        });
        QTest::mouseClick(Control<QPushButton>("Command5"), Qt::LeftButton);
        QVERIFY(*done);
        QCOMPARE(folderSeen, expectFolder);
    }

  public:
    static void initMain() { TestSupport::PrepareWindowTests(); }

  private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void init()
    {
        TestSupport::UseFreshSettingsFolder();
        w = std::make_unique<frmReader>();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
    }

    void cleanup() { w.reset(); }

    void startState()
    {
        QCOMPARE(w->windowTitle(), QStringLiteral("Pointwind v0.3"));
        QCOMPARE(w->centralWidget()->size(), QSize(526, 435));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(w->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!w->windowIcon().isNull());

        QCOMPARE(Text2()->text(), QStringLiteral("2"));
        QCOMPARE(Text2()->maxLength(), 3);
        QCOMPARE(VScroll1()->value(), 2);
        QCOMPARE(VScroll1()->minimum(), 0);
        QCOMPARE(VScroll1()->maximum(), 130);
        QVERIFY(Control<QCheckBox>("Check1")->isChecked());
        QCOMPARE(Control<QCheckBox>("Check1")->text(), QStringLiteral("Make a backup"));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(Control<QLabel>(qPrintable(QStringLiteral("lbInfo_%1").arg(i)))->text(),
                     QString());
        QCOMPARE(Control<QPushButton>("Command1")->text(), QStringLiteral("Go"));
        QCOMPARE(Control<QPushButton>("Command2")->text(), QStringLiteral("Quit"));
        QCOMPARE(Control<QPushButton>("Command5")->text(), QString());
        QVERIFY(!Control<QPushButton>("Command5")->icon().isNull());
        QVERIFY(Control<QLineEdit>("Text1")->text().startsWith(
            QStringLiteral("Choose group file cache you want to purge")));
        QCOMPARE(Control<QLabel>("Label1_1")->text(), QStringLiteral("Find articles posted "));
        QCOMPARE(Control<QLabel>("Label2_3")->text(), QStringLiteral("Age (day(s)):"));
        QCOMPARE(lstLog()->topLevelItemCount(), 0);
        QCOMPARE(lstLog()->columnCount(), 1);
        QCOMPARE(lstLog()->headerItem()->text(0), QStringLiteral("Message"));

        // Tab order, the whole ring.
        const char *order[] = {"Text1", "Command5", "Check1", "Text2", "Command1", "Command2"};
        QWidget *at = Control<QWidget>(order[0]);
        for (int i = 1; i < 6; ++i) {
            at = at->nextInFocusChain();
            while (!(at->focusPolicy() & Qt::TabFocus))
                at = at->nextInFocusChain();
            QCOMPARE(at->objectName(), QLatin1String(order[i]));
        }

        QCOMPARE(Control<QAction>("mnuOptions")->text(), QStringLiteral("&Edit NNTP Server"));
        QCOMPARE(Control<QAction>("mnuOpen")->text(), QStringLiteral("Open &Group File Cache"));
        QCOMPARE(Control<QAction>("mnuQuit")->text(), QStringLiteral("&Quit"));
        QCOMPARE(Control<QAction>("mnuAbout")->text(), QStringLiteral("&About"));
        QVERIFY(w->menuBar()->actions().contains(Control<QAction>("mnuAbout")));
    }

    void dayCountKeys()
    {
        ClearDays();
        QTest::keyClicks(Text2(), QStringLiteral("1x2"));
        QTest::keyClick(Text2(), Qt::Key_3);
        QCOMPARE(Text2()->text(), QStringLiteral("123"));
        QTest::keyClick(Text2(), Qt::Key_4);
        QCOMPARE(Text2()->text(), QStringLiteral("123"));
        QTest::keyClick(Text2(), Qt::Key_Backspace);
        QCOMPARE(Text2()->text(), QStringLiteral("12"));
        // Letters, signs of other kinds and control characters are swallowed.
        QTest::keyClicks(Text2(), QStringLiteral("a.,* "));
        QTest::keyClick(Text2(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(Text2()->text(), QStringLiteral("12"));
        // Typed digits leave the spinner alone until Enter.
        QCOMPARE(VScroll1()->value(), 2);
        ClearDays();
        QTest::keyClicks(Text2(), QStringLiteral("45"));
        QCOMPARE(VScroll1()->value(), 2);
        QTest::keyClick(Text2(), Qt::Key_Return);
        QCOMPARE(VScroll1()->value(), 45);
        QCOMPARE(Text2()->text(), QStringLiteral("45"));
        ClearDays();
        QTest::keyClicks(Text2(), QStringLiteral("045"));
        QTest::keyClick(Text2(), Qt::Key_Enter);
        QCOMPARE(VScroll1()->value(), 45);
        QCOMPARE(Text2()->text(), QStringLiteral("45"));
        ClearDays();
        QTest::keyClicks(Text2(), QStringLiteral("007"));
        QTest::keyClick(Text2(), Qt::Key_Return);
        QCOMPARE(VScroll1()->value(), 7);
        QCOMPARE(Text2()->text(), QStringLiteral("7"));
    }

    void enterThatCannotReachTheSpinner()
    {
        ClearDays();
        QTest::keyClick(Text2(), Qt::Key_Return);
        QCOMPARE(VScroll1()->value(), 2);
        QCOMPARE(Text2()->text(), QString());
        QTest::keyClicks(Text2(), QStringLiteral("500"));
        QTest::keyClick(Text2(), Qt::Key_Return);
        QCOMPARE(VScroll1()->value(), 2);
        QCOMPARE(Text2()->text(), QStringLiteral("500"));
    }

    void plusMinusAndSpinner()
    {
        QTest::keyClick(Text2(), Qt::Key_Plus);
        QCOMPARE(VScroll1()->value(), 3);
        QCOMPARE(Text2()->text(), QStringLiteral("3"));
        QTest::keyClick(Text2(), Qt::Key_Minus);
        QTest::keyClick(Text2(), Qt::Key_Minus);
        QTest::keyClick(Text2(), Qt::Key_Minus);
        QTest::keyClick(Text2(), Qt::Key_Minus);
        QCOMPARE(VScroll1()->value(), 0);
        QCOMPARE(Text2()->text(), QStringLiteral("0"));
        VScroll1()->setValue(130);
        QCOMPARE(Text2()->text(), QStringLiteral("130"));
        QTest::keyClick(Text2(), Qt::Key_Plus);
        QCOMPARE(VScroll1()->value(), 130);
        QCOMPARE(Text2()->text(), QStringLiteral("130"));
        // The upper arrow lowers the count, the lower one raises it.
        VScroll1()->setValue(10);
        VScroll1()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(Text2()->text(), QStringLiteral("9"));
        VScroll1()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        VScroll1()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(Text2()->text(), QStringLiteral("11"));
        QVERIFY(VScroll1()->invertedAppearance() == false);
    }

    void focusSelectsTheDayCount()
    {
        Control<QPushButton>("Command1")->setFocus();
        QTest::keyClick(Control<QPushButton>("Command1"), Qt::Key_Backtab);
        QVERIFY(Text2()->hasFocus());
        QCOMPARE(Text2()->selectedText(), QStringLiteral("2"));
    }

    void openingAFile()
    {
        const QString folder = TestSupport::MakeTempFolder();
        const QString path = folder + QStringLiteral("/alt.test.nc1");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        OpenWithDialog(path, QCoreApplication::applicationDirPath());
        QCOMPARE(Control<QLineEdit>("Text1")->text(), path);
        QCOMPARE(Control<QLabel>("lbInfo_0")->text(), QStringLiteral("alt.test"));
        QCOMPARE(modSettings::ReadSetting(modSettings::AppName, modSettings::Section,
                                          QStringLiteral("Path")),
                 folder);
        QCOMPARE(Control<QPushButton>("Command1")->text(), QStringLiteral("Go"));
        QCOMPARE(w->focusWidget(), Text2());
        QCOMPARE(Text2()->selectedText(), Text2()->text());

        // The next dialog opens where the last file was; cancelling it keeps
        // the file but still gives "Go".
        Control<QPushButton>("Command1")->setText(QStringLiteral("Finished!"));
        OpenWithDialog(QString(), folder);
        QCOMPARE(Control<QLineEdit>("Text1")->text(), path);
        QCOMPARE(Control<QLabel>("lbInfo_0")->text(), QStringLiteral("alt.test"));
        QCOMPARE(Control<QPushButton>("Command1")->text(), QStringLiteral("Go"));

        // A file that is no group cache file names no group.
        const QString other = folder + QStringLiteral("/notes.txt");
        OpenWithDialog(other, folder);
        QCOMPARE(Control<QLineEdit>("Text1")->text(), other);
        QCOMPARE(Control<QLabel>("lbInfo_0")->text(), QString());
    }

    void logRowsAndIcons()
    {
        const struct {
            int kind;
            const char *key;
        } kinds[] = {{0, "info"}, {1, "info"}, {2, "warning"}, {3, "abort"},
                     {4, "info"}, {5, "info"}, {6, "abort"},   {-7, "info"}};
        for (const auto &k : kinds)
            w->AddLogRow(QStringLiteral("kind %1").arg(k.kind), k.kind);
        QCOMPARE(lstLog()->topLevelItemCount(), int(std::size(kinds)));
        static const QRegularExpression row(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d (.*)$"));
        for (int i = 0; i < int(std::size(kinds)); ++i) {
            QTreeWidgetItem *item = lstLog()->topLevelItem(i);
            const auto match = row.match(item->text(0));
            QVERIFY2(match.hasMatch(), qPrintable(item->text(0)));
            QCOMPARE(match.captured(1), QStringLiteral("kind %1").arg(kinds[i].kind));
            const QIcon expected = w->ImageList1.value(QLatin1String(kinds[i].key));
            QVERIFY(!expected.isNull());
            QCOMPARE(item->icon(0).cacheKey(), expected.cacheKey());
        }
        // The three icons are distinct 16 x 16 pictures.
        QCOMPARE(w->ImageList1.size(), 3);
        QVERIFY(w->ImageList1.value("warning").pixmap(16).toImage() !=
                w->ImageList1.value("abort").pixmap(16).toImage());
        QCOMPARE(w->ImageList1.value("info").pixmap(16).size(), QSize(16, 16));

        // A message from a server is shown as text, never as markup.
        w->AddLogRow(QStringLiteral("<b>bold</b>"), 1);
        QVERIFY(lstLog()
                    ->topLevelItem(lstLog()->topLevelItemCount() - 1)
                    ->text(0)
                    .endsWith(QStringLiteral(" <b>bold</b>")));
    }

    void newestRowIsVisible()
    {
        for (int i = 0; i < 200; ++i)
            w->AddLogRow(QStringLiteral("row %1").arg(i), 1);
        QTreeWidgetItem *last = lstLog()->topLevelItem(199);
        const QRect shown = lstLog()->visualItemRect(last);
        QVERIFY(lstLog()->viewport()->rect().contains(shown));
        QVERIFY(!lstLog()->viewport()->rect().contains(
            lstLog()->visualItemRect(lstLog()->topLevelItem(0))));
    }

    void numbersAsTheUserSeesThem()
    {
        QCOMPARE(frmReader::NumberText(150.3), QStringLiteral("150.3"));
        QCOMPARE(frmReader::NumberText(0), QStringLiteral("0"));
        QCOMPARE(frmReader::NumberText(-0.0), QStringLiteral("0"));
        QCOMPARE(frmReader::NumberText(-0.1), QStringLiteral("-0.1"));
        QCOMPARE(frmReader::NumberText(107), QStringLiteral("107"));
        QCOMPARE(frmReader::NumberText(1e12), QStringLiteral("1000000000000"));
        QCOMPARE(frmReader::NumberText(9007199254740991.0), QStringLiteral("9007199254740991"));
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(frmReader::NumberText(150.3), QStringLiteral("150,3"));
        QCOMPARE(frmReader::NumberText(1234567), QStringLiteral("1234567"));
        QLocale::setDefault(QLocale::c());
    }

    void probeRounding()
    {
        // Halves go to the even neighbour.
        QCOMPARE(frmReader::R(11, 12), qint64(12));
        QCOMPARE(frmReader::R(12, 13), qint64(12));
        QCOMPARE(frmReader::R(107, 108), qint64(108));
        QCOMPARE(frmReader::R(106, 107), qint64(106));
        QCOMPARE(frmReader::R(100, 110), qint64(105));
        QCOMPARE(frmReader::R(5, 5), qint64(5));
        QCOMPARE(frmReader::R(0, 1), qint64(0));
        // Beyond 32 bits, and where a double sum would lose the half.
        QCOMPARE(frmReader::R(4294967297LL, 4294967298LL), qint64(4294967298LL));
        const qint64 big = (qint64(1) << 53) - 1;
        QCOMPARE(frmReader::R(big - 1, big), big - 1);
        QCOMPARE(frmReader::R(big - 2, big), big - 1);
    }
};

QTEST_MAIN(tst_frmReader)
#include "tst_frmReader.moc"
