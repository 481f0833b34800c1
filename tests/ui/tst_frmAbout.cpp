#include "support/ModalDriver.h"
#include "support/TestSupport.h"
#include "ui/frmAbout.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>

// Stands in for the desktop's web browser.
class UrlCatcher : public QObject
{
    Q_OBJECT

  public:
    QList<QUrl> opened;

  public slots:
    void open(const QUrl &url) { opened << url; }
};

class tst_frmAbout : public QObject
{
    Q_OBJECT

  public:
    static void initMain() { TestSupport::PrepareWindowTests(); }

  private slots:
    void init() { TestSupport::UseFreshSettingsFolder(); }

    void versionsNewestOnTopAndThePicture()
    {
        frmAbout about;
        const char *const names[] = {"Label2_3", "Label2_2", "Label2_0"};
        const char *const texts[] = {"v0.3 - works fine with Newsleecher v3.7 Final!",
                                     "v0.2 - fix 32 bits header limit",
                                     "v0.1 - works fine with Newsleecher v2.3 Final!"};
        int above = -1;
        for (int i = 0; i < 3; ++i) {
            auto *line = about.findChild<QLabel *>(names[i]);
            QVERIFY2(line, names[i]);
            QCOMPARE(line->text(), QString(texts[i]));
            QVERIFY(line->y() > above);
            above = line->y();
        }
        QVERIFY(!about.findChild<QLabel *>("Label2_1"));

        auto *picture = about.findChild<QLabel *>("Image2");
        QVERIFY(picture);
        QCOMPARE(picture->pixmap().size(), QSize(130, 80));
        QVERIFY(picture->hasScaledContents());
    }

    void okAndEscapeClose_data()
    {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("Ok") << false;
        QTest::newRow("Escape") << true;
    }

    void okAndEscapeClose()
    {
        QFETCH(bool, byEscape);
        frmAbout about;
        auto *ok = about.findChild<QPushButton *>("Command1");
        QVERIFY(ok);
        QCOMPARE(ok->text(), QString("Ok"));
        // Shown modally, as the main window shows it.
        const auto driven = TestSupport::OnModal<frmAbout>([&](frmAbout *shown) {
            QCOMPARE(QApplication::focusWidget(), ok);
            if (byEscape)
                QTest::keyClick(ok, Qt::Key_Escape);
            else
                QTest::mouseClick(ok, Qt::LeftButton);
            if (shown->isVisible())
                shown->done(-1); // left open: the test fails below
        });
        const int result = about.exec();
        QVERIFY(*driven);
        QVERIFY(result != -1);
        QVERIFY(!about.isVisible());
    }

    void theLinkOpensTheWebPageAndTheWindowStays()
    {
        UrlCatcher browser;
        QDesktopServices::setUrlHandler("http", &browser, "open");
        QDesktopServices::setUrlHandler("https", &browser, "open");
        frmAbout about;
        about.show();
        auto *link = about.findChild<QLabel *>("Label1");
        QVERIFY(link);
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);

        QTest::mouseClick(about.findChild<QLabel *>("lblCourriel"), Qt::LeftButton);
        QTest::mouseClick(about.findChild<QLabel *>("Image2"), Qt::LeftButton);
        QVERIFY(browser.opened.isEmpty());

        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(frmAbout::WebPage)});
        QVERIFY(about.isVisible());
        QDesktopServices::unsetUrlHandler("http");
        QDesktopServices::unsetUrlHandler("https");
    }
};

QTEST_MAIN(tst_frmAbout)
#include "tst_frmAbout.moc"
