#include "support/ModalDriver.h"
#include "support/TestSupport.h"
#include "ui/CCommonDialog.h"
#include "ui/modStartFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QTest>

namespace
{

const QChar Nul(0);

// Types `name` into the file-name box, or goes to the folder `name`, and
// presses the dialog's button, as a user would.
void Choose(QFileDialog *dialog, const QString &name, bool folder = false)
{
    if (folder)
        dialog->setDirectory(name);
    else if (!name.isEmpty())
        dialog->findChild<QLineEdit *>("fileNameEdit")->setText(name);
    // accept() is protected in QFileDialog, public in QDialog.
    static_cast<QDialog *>(dialog)->accept();
}

void Touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

// Answers the next file dialog with `choose` (a file name in the dialog's
// folder, or a full path), or cancels it when `choose` is null.
std::shared_ptr<bool> Answer(const QString &choose, bool folder = false)
{
    return TestSupport::OnModal<QFileDialog>([=](QFileDialog *dialog) {
        if (choose.isNull())
            dialog->reject();
        else
            Choose(dialog, choose, folder);
    });
}

} // namespace

class tst_CCommonDialog : public QObject
{
    Q_OBJECT

  public:
    static void initMain() { TestSupport::PrepareWindowTests(); }

  private slots:
    void init() { TestSupport::UseFreshSettingsFolder(); }

    void filterPairsBecomeNameFilters_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("group header") << QString("Group Header (*.nc1)") + Nul + "*.nc1"
                                      << QStringList{"Group Header (*.nc1)"};
        QTest::newRow("several patterns") << QString("Text (*.txt;*.log)") + Nul + "*.txt;*.log"
                                          << QStringList{"Text (*.txt *.log)"};
        QTest::newRow("every file")
            << QString("All Files (*.*)") + Nul + "*.*" << QStringList{"All Files (*)"};
        QTest::newRow("description showing other patterns")
            << QString("Headers (new)") + Nul + "*.nc1" << QStringList{"Headers (new) (*.nc1)"};
        QTest::newRow("two pairs and the closing empty pair")
            << QString("A (*.a)") + Nul + "*.a" + Nul + "B" + Nul + "*.b" + Nul + Nul
            << QStringList{"A (*.a)", "B (*.b)"};
        QTest::newRow("empty") << QString() << QStringList{};
    }

    void filterPairsBecomeNameFilters()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, expected);
        QCOMPARE(CCommonDialog::NameFilters(filter), expected);
    }

    void showOpenReturnsThePathAndOneNul()
    {
        const QString folder = TestSupport::MakeTempFolder();
        Touch(folder + "/alt.binaries.test.nc1");
        Touch(folder + "/notes.txt");
        QWidget owner;
        CCommonDialog dialog;
        dialog.hwnd = &owner;
        dialog.DialogTitle = "Open Group File Cache";
        dialog.Filter = QString("Group Header (*.nc1)") + Nul + "*.nc1";
        dialog.InitialDir = folder;

        QFileDialog *seen = nullptr;
        QString title, shownFolder;
        QStringList filters, listed;
        QString selectedFilter;
        QWidget *parent = nullptr;
        TestSupport::OnModal<QFileDialog>([&](QFileDialog *d) {
            seen = d;
            title = d->windowTitle();
            shownFolder = d->directory().absolutePath();
            filters = d->nameFilters();
            selectedFilter = d->selectedNameFilter();
            parent = d->parentWidget();
            auto *view = d->findChild<QListView *>("listView");
            QTRY_VERIFY(view && view->model()->rowCount(view->rootIndex()) > 0);
            for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
                listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
            Choose(d, "alt.binaries.test.nc1");
        });
        const QString path = dialog.ShowOpen();
        QVERIFY(seen);
        QCOMPARE(title, QString("Open Group File Cache"));
        QCOMPARE(shownFolder, QDir(folder).absolutePath());
        QCOMPARE(filters, QStringList{"Group Header (*.nc1)"});
        QCOMPARE(selectedFilter, filters.first());
        QCOMPARE(parent, &owner);
        QCOMPARE(listed, QStringList{"alt.binaries.test.nc1"});
        QCOMPARE(path, QDir(folder).absoluteFilePath("alt.binaries.test.nc1") + Nul);
    }

    void aTypedNameOfAMissingFileIsReturnedToo()
    {
        const QString folder = TestSupport::MakeTempFolder();
        CCommonDialog dialog;
        dialog.InitialDir = folder;
        Answer("missing.nc1");
        QCOMPARE(dialog.ShowOpen(), QDir(folder).absoluteFilePath("missing.nc1") + Nul);
    }

    // Several names typed in quotes, as the dialog's list writes a
    // selection of several: all of them, in order; the first is returned.
    void multiSelectGivesEveryFile()
    {
        const QString folder = TestSupport::MakeTempFolder();
        for (const char *name : {"alt.a.nc1", "alt.b.nc1"})
            Touch(QDir(folder).absoluteFilePath(name));
        CCommonDialog dialog;
        dialog.InitialDir = folder;
        dialog.AllowMultiSelect = true;
        Answer("\"alt.a.nc1\" \"alt.b.nc1\"");
        QCOMPARE(dialog.ShowOpen(), QDir(folder).absoluteFilePath("alt.a.nc1") + Nul);
        QCOMPARE(dialog.FileNames, QStringList({QDir(folder).absoluteFilePath("alt.a.nc1"),
                                                QDir(folder).absoluteFilePath("alt.b.nc1")}));
    }

    void showSaveOverwritesWithoutAsking()
    {
        const QString folder = TestSupport::MakeTempFolder();
        Touch(folder + "/existing.nc1");
        CCommonDialog dialog;
        dialog.InitialDir = folder;
        dialog.filename = "existing.nc1";
        // No answer given: the name put in at the start is taken as it is,
        // and a question about overwriting would be cancelled.
        Answer("");
        QCOMPARE(dialog.ShowSave(), QDir(folder).absoluteFilePath("existing.nc1") + Nul);
    }

    void browseFolderReturnsTheFolderWithoutNul()
    {
        const QString folder = TestSupport::MakeTempFolder();
        QVERIFY(QDir(folder).mkdir("groups"));
        CCommonDialog dialog;
        dialog.DialogTitle = "Pick the groups folder";
        dialog.InitialDir = folder;
        Answer(folder + "/groups", true);
        QCOMPARE(dialog.BrowseFolder(), QDir(folder).absoluteFilePath("groups"));
    }

    void cancellingGivesEmptyText()
    {
        CCommonDialog dialog;
        dialog.InitialDir = TestSupport::MakeTempFolder();
        dialog.Filter = QString("Group Header (*.nc1)") + Nul + "*.nc1";
        Answer(QString());
        QVERIFY(dialog.ShowOpen().isEmpty());
        Answer(QString());
        QVERIFY(dialog.ShowSave().isEmpty());
        Answer(QString());
        QVERIFY(dialog.BrowseFolder().isEmpty());
    }

    void theNextDialogStartsWithTheFilterChosenLast()
    {
        const QString folder = TestSupport::MakeTempFolder();
        CCommonDialog dialog;
        dialog.InitialDir = folder;
        dialog.Filter = QString("A (*.a)") + Nul + "*.a" + Nul + "B (*.b)" + Nul + "*.b";
        TestSupport::OnModal<QFileDialog>([](QFileDialog *d) {
            d->selectNameFilter("B (*.b)");
            Choose(d, "x.b");
        });
        QVERIFY(!dialog.ShowOpen().isEmpty());
        QString selected;
        TestSupport::OnModal<QFileDialog>([&](QFileDialog *d) {
            selected = d->selectedNameFilter();
            d->reject();
        });
        QVERIFY(dialog.ShowOpen().isEmpty());
        QCOMPARE(selected, QString("B (*.b)"));
    }

    // The open dialog's first folder on Windows, from the folders its
    // environment names.
    void groupsFolderWithTheNewestFileWins()
    {
        QStringList bases;
        QStringList groups;
        for (int i = 0; i < 4; ++i) {
            bases << TestSupport::MakeTempFolder();
            groups << bases.last() + "/" + modStartFolder::GroupsSubfolder;
        }
        QVERIFY(QDir().mkpath(groups[1]) && QDir().mkpath(groups[2]) && QDir().mkpath(groups[3]));
        // 0 has none, 1 is empty, 2 holds an old file, 3 a new one.
        const auto write = [](const QString &path, int daysOld) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) &&
                   file.setFileTime(QDateTime::currentDateTime().addDays(-daysOld),
                                    QFileDevice::FileModificationTime);
        };
        QVERIFY(write(groups[2] + "/alt.old.nc1", 400) && write(groups[3] + "/alt.new.nc1", 1));
        QVERIFY(write(groups[2] + "/notes.txt", 0));
        const QStringList blanks = {"", "relative/folder"};
        QCOMPARE(modStartFolder::GroupsFolderUnder(blanks + bases), groups[3]);
        QCOMPARE(modStartFolder::GroupsFolderUnder(blanks + bases.mid(0, 3)), groups[2]);
        QCOMPARE(modStartFolder::GroupsFolderUnder(blanks + bases.mid(0, 2)), groups[1]);
        QCOMPARE(modStartFolder::GroupsFolderUnder(blanks + bases.mid(0, 1)), QString());
    }
};

QTEST_MAIN(tst_CCommonDialog)
#include "tst_CCommonDialog.moc"
