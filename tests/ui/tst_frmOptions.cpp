#include "support/ModalDriver.h"
#include "support/TestSupport.h"
#include "ui/frmOptions.h"
#include "ui/modSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

using namespace modSettings;

namespace
{

QString Stored(const QString &key)
{
    return ReadSetting(AppName, Section, key, QStringLiteral("<absent>"));
}

void Store(const QString &key, const QString &text)
{
    QVERIFY(WriteSetting(AppName, Section, key, text));
}

QByteArray StoreBytes()
{
    QFile file(StorePath(AppName));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

// One opening of the window, shown and active like the real thing.
struct Opening {
    frmOptions window;
    Opening()
    {
        window.show();
        window.activateWindow();
    }
    QLineEdit *box(int index)
    {
        return window.findChild<QLineEdit *>(QStringLiteral("txtOptions_%1").arg(index));
    }
    QCheckBox *login() { return window.findChild<QCheckBox *>("chkLogin"); }
    QPushButton *ok() { return window.findChild<QPushButton *>("cmdOk"); }
    // Presses OK and answers the message box it should bring up; the
    // box's text, or a null text when there was none.
    QString pressOkForMessage()
    {
        auto message = std::make_shared<QString>();
        TestSupport::OnModal<QMessageBox>([message](QMessageBox *box) {
            *message = box->text();
            box->accept();
        });
        QTest::mouseClick(ok(), Qt::LeftButton);
        return *message;
    }
    bool loginBoxesAre(bool enabled)
    {
        const QColor want =
            QApplication::palette().color(enabled ? QPalette::Base : QPalette::Button);
        for (int i : {2, 3}) {
            if (box(i)->isEnabled() != enabled || box(i)->palette().color(QPalette::Base) != want)
                return false;
        }
        return true;
    }
};

} // namespace

class tst_frmOptions : public QObject
{
    Q_OBJECT

  public:
    static void initMain() { TestSupport::PrepareWindowTests(); }

  private slots:
    void init() { TestSupport::UseFreshSettingsFolder(); }

    void firstOpeningAndOkAtOnce()
    {
        Opening o;
        QCOMPARE(o.window.windowTitle(), QString("Server Manager"));
        QCOMPARE(o.box(0)->text(), QString("ex: news.example.org"));
        QCOMPARE(o.box(1)->text(), QString("119"));
        QCOMPARE(o.box(2)->text(), QString());
        QCOMPARE(o.box(3)->text(), QString());
        QVERIFY(!o.login()->isChecked());
        QVERIFY(o.loginBoxesAre(false));

        QTest::mouseClick(o.ok(), Qt::LeftButton);
        QCOMPARE(o.window.result(), int(QDialog::Accepted));
        QVERIFY(!o.window.isVisible());
        QCOMPARE(Stored("NNTPServer"), QString("ex: news.example.org"));
        QCOMPARE(Stored("NNTPPort"), QString("119"));
        QCOMPARE(Stored("Login"), QString("0"));
        QCOMPARE(Stored("UserName"), QString());
        QCOMPARE(Stored("Password"), QString());
        QCOMPARE(Stored("Search"), QString("0"));
    }

    void storedValuesOpenAsStored()
    {
        Store("NNTPServer", "");
        Store("NNTPPort", "563");
        Store("Login", "1");
        Store("UserName", " reader ");
        Store("Password", "p,w");
        Opening o;
        // The example applies only when the key is absent.
        QCOMPARE(o.box(0)->text(), QString());
        QCOMPARE(o.box(1)->text(), QString("563"));
        QCOMPARE(o.box(2)->text(), QString(" reader "));
        QCOMPARE(o.box(3)->text(), QString("p,w"));
        QVERIFY(o.login()->isChecked());
        QVERIFY(o.loginBoxesAre(true));
        QCOMPARE(o.box(3)->displayText(), QString("***"));
    }

    void aLoginOtherThanOneOpensUnticked()
    {
        Store("Login", "2");
        Opening o;
        QVERIFY(!o.login()->isChecked());
        QVERIFY(o.loginBoxesAre(false));
    }

    void loginCheckBoxEnablesAndColoursWithoutClearing()
    {
        Opening o;
        QTest::mouseClick(o.login(), Qt::LeftButton);
        QVERIFY(o.loginBoxesAre(true));
        o.box(2)->setText("reader");
        o.box(3)->setText("secret");
        QTest::mouseClick(o.login(), Qt::LeftButton);
        QVERIFY(o.loginBoxesAre(false));
        QCOMPARE(o.box(2)->text(), QString("reader"));

        QTest::mouseClick(o.ok(), Qt::LeftButton);
        QCOMPARE(Stored("Login"), QString("0"));
        QCOMPARE(Stored("UserName"), QString("reader"));
        QCOMPARE(Stored("Password"), QString("secret"));
    }

    void tabbingVisitsTheBoxesInOrderSelectingAll()
    {
        Store("Login", "1");
        Store("UserName", "reader");
        Store("Password", "secret");
        Opening o;
        QVERIFY(QTest::qWaitForWindowActive(&o.window));
        o.box(0)->setFocus(Qt::OtherFocusReason);
        const QStringList expected = {"txtOptions_1", "cboSecurity", "chkLogin", "txtOptions_2",
                                      "txtOptions_3", "cboSearch",   "cmdOk",    "txtOptions_0"};
        for (const QString &name : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget *focus = QApplication::focusWidget();
            QVERIFY(focus);
            QCOMPARE(focus->objectName(), name);
            if (auto *box = qobject_cast<QLineEdit *>(focus)) {
                QVERIFY(!box->text().isEmpty());
                QCOMPARE(box->selectionStart(), 0);
                QCOMPARE(box->selectedText(), box->text());
            }
        }
        // A click into a box selects its whole text as well.
        QTest::mouseClick(o.box(1), Qt::LeftButton);
        QTRY_COMPARE(o.box(1)->selectedText(), o.box(1)->text());
    }

    // The choice is stored as 0, 1 or 2; the usual ports follow it.
    void securityChoice()
    {
        Opening o;
        auto *security = o.window.findChild<QComboBox *>("cboSecurity");
        QCOMPARE(security->currentText(), QString("None"));
        security->setCurrentIndex(1);
        QCOMPARE(o.box(1)->text(), QString("563"));
        security->setCurrentIndex(2);
        QCOMPARE(o.box(1)->text(), QString("563"));
        security->setCurrentIndex(0);
        QCOMPARE(o.box(1)->text(), QString("119"));
        o.box(1)->setText("800");
        security->setCurrentIndex(1);
        QCOMPARE(o.box(1)->text(), QString("800"));
        QTest::mouseClick(o.ok(), Qt::LeftButton);
        QCOMPARE(Stored("Security"), QString("1"));
        Opening again;
        QCOMPARE(again.window.findChild<QComboBox *>("cboSecurity")->currentText(),
                 QString("SSL/TLS"));
        QCOMPARE(again.box(1)->text(), QString("800"));
    }

    // Halving unless 1 is stored; the arrow keys choose.
    void searchChoice()
    {
        Store("Search", "7");
        {
            Opening o;
            auto *search = o.window.findChild<QComboBox *>("cboSearch");
            QCOMPARE(search->currentText(), QString("Halving"));
            QVERIFY(QTest::qWaitForWindowActive(&o.window));
            search->setFocus(Qt::TabFocusReason);
            QTest::keyClick(search, Qt::Key_Down);
            QCOMPARE(search->currentText(), QString("Fast"));
            QTest::mouseClick(o.ok(), Qt::LeftButton);
            QCOMPARE(Stored("Search"), QString("1"));
        }
        Opening again;
        QCOMPARE(again.window.findChild<QComboBox *>("cboSearch")->currentText(), QString("Fast"));
    }

    void portTextsAreStoredAsWholeNumbers_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("blanks around") << QString("  25  ") << QString("25");
        QTest::newRow("half to even, up") << QString("119.5") << QString("120");
        QTest::newRow("half to even, down") << QString("120.5") << QString("120");
        QTest::newRow("highest") << QString("32767") << QString("32767");
    }

    void portTextsAreStoredAsWholeNumbers()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        Opening o;
        o.box(1)->setText(typed);
        QTest::keyClick(o.box(0), Qt::Key_Return); // Enter presses OK
        QCOMPARE(o.window.result(), int(QDialog::Accepted));
        QCOMPARE(Stored("NNTPPort"), stored);
    }

    void refusedPortWritesNothingAndKeepsTheWindowOpen_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("zero") << "0";
        QTest::newRow("above range") << "32768";
        QTest::newRow("rounds above range") << "32767.5";
        QTest::newRow("empty") << "";
        QTest::newRow("letters") << "nntp";
    }

    void refusedPortWritesNothingAndKeepsTheWindowOpen()
    {
        QFETCH(QString, typed);
        Store("NNTPServer", "old.example.org");
        const QByteArray before = StoreBytes();
        Opening o;
        o.box(0)->setText("new.example.org");
        o.box(1)->setText(typed);
        const QString message = o.pressOkForMessage();
        QVERIFY2(message.contains("1 to 32767"), qPrintable(message));
        QVERIFY(o.window.isVisible());
        QCOMPARE(StoreBytes(), before);
        QCOMPARE(o.box(1)->text(), typed);
    }

    void closingWithoutOkSavesNothing_data()
    {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("close box") << false;
        QTest::newRow("escape") << true;
    }

    void closingWithoutOkSavesNothing()
    {
        QFETCH(bool, byEscape);
        Store("NNTPServer", "news.example.org");
        const QByteArray before = StoreBytes();
        {
            Opening o;
            o.box(0)->setText("other.example.org");
            o.box(1)->setText("25");
            QTest::mouseClick(o.login(), Qt::LeftButton);
            if (byEscape)
                QTest::keyClick(o.box(0), Qt::Key_Escape);
            else
                QVERIFY(o.window.close());
            QVERIFY(!o.window.isVisible());
            QCOMPARE(o.window.result(), int(QDialog::Rejected));
        }
        QCOMPARE(StoreBytes(), before);
        Opening again;
        QCOMPARE(again.box(0)->text(), QString("news.example.org"));
        QCOMPARE(again.box(1)->text(), QString("119"));
        QVERIFY(!again.login()->isChecked());
    }

    void unsavableSettingsKeepTheWindowOpen()
    {
        QVERIFY(QDir().mkpath(StorePath(AppName)));
        Opening o;
        const QString message = o.pressOkForMessage();
        QVERIFY2(message.contains("could not be saved"), qPrintable(message));
        QVERIFY(o.window.isVisible());
    }
};

QTEST_MAIN(tst_frmOptions)
#include "tst_frmOptions.moc"
