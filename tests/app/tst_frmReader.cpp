// The main window: its start state, the day-count keys and spinner, opening
// a group cache file, the log, and a whole run done with the keyboard alone.
#include "app/frmReader.h"
#include "common/modMain.h"
#include "support/ModalDriver.h"
#include "support/NntpTestServer.h"
#include "support/ReaderDriver.h"
#include "support/TestSupport.h"
#include "ui/frmAbout.h"
#include "ui/frmOptions.h"
#include "ui/modSettings.h"
#include "ui/modStartFolder.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
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

    // Answers the next open dialog with `path` (cancels it when empty) and
    // tells the folder it opened in.
    QString OpenWithDialog(const QString &path)
    {
        QString folder;
        auto done = TestSupport::OnModal<QFileDialog>([&](QFileDialog *dialog) {
            folder = dialog->directory().absolutePath();
            TestSupport::AnswerFileDialog(dialog, path);
        });
        QTest::mouseClick(Control<QPushButton>("Command5"), Qt::LeftButton);
        return *done ? folder : QStringLiteral("<no dialog>");
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
        QCOMPARE(Text2()->text(), QStringLiteral("2"));
        QCOMPARE(VScroll1()->value(), 2);
        QVERIFY(Control<QCheckBox>("Check1")->isChecked());
        for (const char *label : {"lbInfo_0", "lbInfo_1", "lbInfo_2", "lbInfo_3", "lbInfo_4"})
            QCOMPARE(Control<QLabel>(label)->text(), QString());
        QCOMPARE(Control<QPushButton>("Command1")->text(), QStringLiteral("Go"));
        QCOMPARE(lstLog()->topLevelItemCount(), 0);
        QCOMPARE(lstLog()->headerItem()->text(0), QStringLiteral("Message"));
        QVERIFY(w->menuBar()->actions().contains(Control<QAction>("mnuAbout")));

        const char *order[] = {"Text1", "Command5", "Check1", "Text2", "Command1", "Command2"};
        QWidget *at = Control<QWidget>(order[0]);
        for (int i = 1; i < 6; ++i) {
            do
                at = at->nextInFocusChain();
            while (!(at->focusPolicy() & Qt::TabFocus));
            QCOMPARE(at->objectName(), QLatin1String(order[i]));
        }
    }

    // Keys typed into the day count: "\n" is Enter, "\b" backspace. The box
    // starts emptied, or with the spinner at `start` when that is not -1.
    void dayCountKeys_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("spinner");
        QTest::newRow("others swallowed") << -1 << "1x2a.,* 3"
                                          << "123" << 2;
        QTest::newRow("three at most") << -1 << "1234"
                                       << "123" << 2;
        QTest::newRow("backspace") << -1 << "12\b"
                                   << "1" << 2;
        QTest::newRow("no Enter") << -1 << "45"
                                  << "45" << 2;
        QTest::newRow("Enter") << -1 << "45\n"
                               << "45" << 45;
        QTest::newRow("Enter rewrites") << -1 << "007\n"
                                        << "7" << 7;
        QTest::newRow("Enter on empty") << -1 << "\n"
                                        << "" << 2;
        QTest::newRow("Enter past 130") << -1 << "500\n"
                                        << "500" << 2;
        QTest::newRow("plus") << 2 << "+"
                              << "3" << 3;
        QTest::newRow("plus at 130") << 130 << "+"
                                     << "130" << 130;
        QTest::newRow("minus to 0 and no further") << 2 << "---"
                                                   << "0" << 0;
    }
    void dayCountKeys()
    {
        QFETCH(int, start);
        QFETCH(QString, keys);
        Text2()->setFocus();
        if (start < 0) {
            Text2()->selectAll();
            QTest::keyClick(Text2(), Qt::Key_Delete);
        } else {
            VScroll1()->setValue(start);
        }
        for (QChar key : keys) {
            if (key == QLatin1Char('\n'))
                QTest::keyClick(Text2(), Qt::Key_Return);
            else if (key == QLatin1Char('\b'))
                QTest::keyClick(Text2(), Qt::Key_Backspace);
            else
                QTest::keyClicks(Text2(), QString(key));
        }
        QTEST(Text2()->text(), "text");
        QTEST(VScroll1()->value(), "spinner");
    }

    void spinnerAndFocus()
    {
        // The upper arrow lowers the count, the lower one raises it.
        VScroll1()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(Text2()->text(), QStringLiteral("1"));
        VScroll1()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        VScroll1()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(Text2()->text(), QStringLiteral("3"));
        // Reaching the day count selects it, so that typing replaces it.
        Control<QPushButton>("Command1")->setFocus();
        QTest::keyClick(Control<QPushButton>("Command1"), Qt::Key_Backtab);
        QVERIFY(Text2()->hasFocus());
        QCOMPARE(Text2()->selectedText(), QStringLiteral("3"));
    }

    void openingAFile()
    {
        const QString folder = TestSupport::MakeTempFolder();
        const QString path = folder + QStringLiteral("/alt.test.nc1");
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));

        QCOMPARE(OpenWithDialog(path), modStartFolder::FirstFolder());
        QCOMPARE(Control<QLineEdit>("Text1")->text(), QDir::toNativeSeparators(path));
        QCOMPARE(Control<QLabel>("lbInfo_0")->text(), QStringLiteral("alt.test"));
        QCOMPARE(modSettings::ReadSetting(modSettings::AppName, modSettings::Section,
                                          QStringLiteral("Path")),
                 folder);
        QCOMPARE(w->focusWidget(), Text2());
        QCOMPARE(Text2()->selectedText(), Text2()->text());

        // The next dialog opens where the last file was; cancelling it keeps
        // the file but still gives "Go".
        Control<QPushButton>("Command1")->setText(QStringLiteral("Finished!"));
        QCOMPARE(OpenWithDialog(QString()), folder);
        QCOMPARE(Control<QLabel>("lbInfo_0")->text(), QStringLiteral("alt.test"));
        QCOMPARE(Control<QPushButton>("Command1")->text(), QStringLiteral("Go"));

        // A file that is no group cache file names no group. The dialog,
        // which can take several files, takes only files that exist.
        QVERIFY(QFile(folder + QStringLiteral("/notes.txt")).open(QIODevice::WriteOnly));
        QCOMPARE(OpenWithDialog(folder + QStringLiteral("/notes.txt")), folder);
        QCOMPARE(Control<QLabel>("lbInfo_0")->text(), QString());
    }

    // As the program does with a file named on its command line.
    void openingAFileByName()
    {
        const QString folder = TestSupport::MakeTempFolder();
        w->OpenGroupFile(folder + QStringLiteral("/alt.named.nc1"));
        QCOMPARE(Control<QLineEdit>("Text1")->text(),
                 QDir::toNativeSeparators(folder + QStringLiteral("/alt.named.nc1")));
        QCOMPARE(Control<QLabel>("lbInfo_0")->text(), QStringLiteral("alt.named"));
        QCOMPARE(modSettings::ReadSetting(modSettings::AppName, modSettings::Section,
                                          QStringLiteral("Path")),
                 folder);
    }

    void menu()
    {
        auto options = TestSupport::OnModal<frmOptions>([](frmOptions *d) { d->reject(); });
        Control<QAction>("mnuOptions")->trigger();
        QVERIFY(*options);
        auto about = TestSupport::OnModal<frmAbout>([](frmAbout *d) { d->reject(); });
        Control<QAction>("mnuAbout")->trigger();
        QVERIFY(*about);
        auto open = TestSupport::OnModal<QFileDialog>([](QFileDialog *d) { d->reject(); });
        Control<QAction>("mnuOpen")->trigger();
        QVERIFY(*open);
        Control<QAction>("mnuQuit")->trigger();
        QVERIFY(!w->isVisible());
    }

    void logRows()
    {
        const int kinds[] = {0, 1, 2, 3, 4, 5, 6};
        const char *keys[] = {"info", "info", "warning", "abort", "info", "info", "abort"};
        for (int kind : kinds)
            w->AddLogRow(QStringLiteral("<b>kind %1</b>").arg(kind), kind);
        QStringList expected;
        for (int kind : kinds)
            expected << QStringLiteral("<b>kind %1</b>").arg(kind);
        // Time, one space, the message as plain text.
        QCOMPARE(TestSupport::LogMessages(*w), expected);
        QVERIFY(lstLog()->topLevelItem(0)->text(0).contains(
            QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d <b>"))));
        QStringList expectedKeys;
        for (const char *key : keys)
            expectedKeys << QLatin1String(key);
        QCOMPARE(TestSupport::LogIconKeys(*w), expectedKeys);
        QCOMPARE(w->ImageList1.value("info").pixmap(16).size(), QSize(16, 16));

        for (int i = 0; i < 200; ++i)
            w->AddLogRow(QStringLiteral("row %1").arg(i), 1);
        const QRect shown = lstLog()->viewport()->rect();
        QVERIFY(shown.contains(lstLog()->visualItemRect(lstLog()->topLevelItem(206))));
        QVERIFY(!shown.contains(lstLog()->visualItemRect(lstLog()->topLevelItem(0))));
    }

    // Keys go where the focus is, as the platform sends them: Shift+Tab is
    // Backtab, and both carry a tab character.
    void keyboardOnly()
    {
        TestSupport::NntpTestServer server;
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        server.AddGroup(
            TestSupport::NntpArticleGroup::Spread("alt.test", 1, 60, now - 30 * 86400, now));
        QVERIFY(TestSupport::StartOnSettingsPort(server));
        TestSupport::StoreServerSettings(QStringLiteral("127.0.0.1"), server.Port());
        const QString file = TestSupport::MakeTempFolder() + QStringLiteral("/alt.test.nc1");
        QVERIFY(TestSupport::WriteSampleGroupFile(file, QStringLiteral("123")));

        auto press = [](Qt::Key key, const char *text, Qt::KeyboardModifiers mods = {}) {
            QTest::sendKeyEvent(QTest::Click, static_cast<QWidget *>(nullptr), key,
                                QString::fromLatin1(text), mods);
        };
        auto focus = [] {
            const QWidget *at = QApplication::focusWidget();
            return at ? at->objectName() : QString();
        };
        QCOMPARE(focus(), QStringLiteral("Text1"));
        press(Qt::Key_Tab, "\t");
        QCOMPARE(focus(), QStringLiteral("Command5"));
        auto opened = TestSupport::OnModal<QFileDialog>(
            [&](QFileDialog *dialog) { TestSupport::AnswerFileDialog(dialog, file); });
        press(Qt::Key_Return, "\r");
        QVERIFY(*opened);
        // The window manager's part: the window gets the keyboard back.
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QCOMPARE(focus(), QStringLiteral("Text2"));

        QTest::keyClicks(nullptr, QStringLiteral("ab x"));
        QCOMPARE(Text2()->text(), QStringLiteral("2"));
        press(Qt::Key_Backtab, "\t", Qt::ShiftModifier);
        QCOMPARE(focus(), QStringLiteral("Check1"));
        press(Qt::Key_Space, " ");
        QVERIFY(!Control<QCheckBox>("Check1")->isChecked());
        press(Qt::Key_Tab, "\t");
        press(Qt::Key_Tab, "\t");
        QCOMPARE(focus(), QStringLiteral("Command1"));
        press(Qt::Key_Space, " ");
        auto *go = Control<QPushButton>("Command1");
        QVERIFY(QTest::qWaitFor([&] { return go->text() == QLatin1String("Finished!"); }, 20000));
        QCOMPARE(TestSupport::ReadAll(file),
                 TestSupport::ExpectedGroupFile("123", "127.0.0.1",
                                                Control<QLabel>("lbInfo_1")->text().toLongLong()));
        QVERIFY(!QFile::exists(file + QStringLiteral(".bak")));
    }

    // The Server Manager's "Fast" finds the exact crossing with other
    // requests; "Halving" (the default) asks what a run always asked.
    void searchChoice()
    {
        constexpr qint64 Now = 1768046400;
        modMain::SetPresentMomentSource([] { return QDateTime::fromSecsSinceEpoch(Now, Qt::UTC); });
        const auto restore = qScopeGuard([] { modMain::SetPresentMomentSource({}); });
        TestSupport::NntpTestServer server;
        // Ten minutes apart: ten days ago falls between 3560 and 3561.
        server.AddGroup({"alt.test", 1, 5000, -1, {}, {}, [](qint64 n) {
                             return Now - qint64((5000 - n + 0.5) * 600);
                         }});
        QVERIFY(TestSupport::StartOnSettingsPort(server));
        TestSupport::StoreServerSettings(QStringLiteral("127.0.0.1"), server.Port());
        const QString file = TestSupport::MakeTempFolder() + QStringLiteral("/alt.test.nc1");
        Control<QCheckBox>("Check1")->setChecked(false);
        auto run = [&](const char *search) {
            modSettings::WriteSetting(modSettings::AppName, modSettings::Section,
                                      QStringLiteral("Search"), QLatin1String(search));
            server.ClearReceivedLines();
            if (!TestSupport::WriteSampleGroupFile(file, QStringLiteral("9")))
                return QList<QByteArray>{"cannot write"};
            w->OpenGroupFile(file);
            Text2()->setText(QStringLiteral("10"));
            auto *go = Control<QPushButton>("Command1");
            QTest::mouseClick(go, Qt::LeftButton);
            if (!QTest::qWaitFor([&] { return go->text() == QLatin1String("Finished!"); }, 20000))
                return QList<QByteArray>{"no end"};
            QList<QByteArray> heads;
            for (const QByteArray &line : server.ReceivedLines())
                if (line.startsWith("HEAD"))
                    heads << line;
            return heads;
        };
        const QList<QByteArray> halving = run("0");
        QCOMPARE(halving.mid(0, 3),
                 (QList<QByteArray>{"HEAD 1\r\n", "HEAD 5000\r\n", "HEAD 2500\r\n"}));
        run("1");
        QCOMPARE(TestSupport::ReadAll(file),
                 TestSupport::ExpectedGroupFile("9", "127.0.0.1", 3560));
        // The article shown is the one found, not the last of a round.
        QCOMPARE(Control<QLabel>("lbInfo_1")->text(), QStringLiteral("3560"));
    }

    void numbersAndRounding()
    {
        QCOMPARE(frmReader::NumberText(-0.0), QStringLiteral("0"));
        QCOMPARE(frmReader::NumberText(-0.1), QStringLiteral("-0.1"));
        QCOMPARE(frmReader::NumberText(1e12), QStringLiteral("1000000000000"));
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(frmReader::NumberText(150.3), QStringLiteral("150,3"));
        QCOMPARE(frmReader::NumberText(1234567), QStringLiteral("1234567"));
        QLocale::setDefault(QLocale::c());

        // Halves go to the even neighbour, exactly also where a double sum
        // of the two numbers would lose the half.
        QCOMPARE(frmReader::R(11, 12), qint64(12));
        QCOMPARE(frmReader::R(12, 13), qint64(12));
        const qint64 big = (qint64(1) << 53) - 1;
        QCOMPARE(frmReader::R(big - 1, big), big - 1);
        QCOMPARE(frmReader::R(big - 4, big - 1), big - 3);
    }
};

QTEST_MAIN(tst_frmReader)
#include "tst_frmReader.moc"
