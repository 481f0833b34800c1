#pragma once
// The main window: the parameters of a reset (group cache file, day count,
// backup choice), the header of the article examined last and the log. The
// reset run itself, which searches the group for the article posted a given
// number of days ago and rewrites the group cache file, is a ResetRun the
// window drives and whose reports it shows.
#include <QHash>
#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <functional>

#include "app/ResetRun.h"
#include "cache/modFile.h"

#include <optional>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QTreeWidget;

class frmReader : public QMainWindow
{
    Q_OBJECT

  public:
    explicit frmReader(QWidget *parent = nullptr);
    ~frmReader() override;

    // Shows the "Error" box of a run that cannot start. Tests put their own
    // in its place; an empty function restores the message box.
    using ErrorBoxFunction = std::function<void(const QString &text, const QString &title)>;
    void SetErrorBox(ErrorBoxFunction box);

    // Adds a time-stamped log row with the icon of the message's kind and
    // scrolls to it.
    void AddLogRow(const QString &strMessage, int MessageType);

    // The run's number text and probe rounding.
    static QString NumberText(double value) { return ResetRun::NumberText(value); }
    static qint64 R(qint64 a, qint64 b) { return ResetRun::R(a, b); }

    // The window's image list, by key.
    QHash<QString, QIcon> ImageList1;

    // Opens a group cache file: the window shows its group and the open
    // dialog starts in its folder next time.
    void OpenGroupFile(const QString &path);
    // Chooses the group cache files among `paths` (dropped, or named on the
    // command line): whatever is no existing .nc1 file gets one log row and
    // is left out; one file left is opened as above, several are all run.
    void OpenGroupFiles(const QStringList &paths);

  protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private slots:
    void Command1_Click();
    void Command2_Click();
    void Command5_Click();
    void mnuOptions_Click();
    void mnuAbout_Click();
    void VScroll1_Change(int value);

    // What the reset run reports.
    void m_objRun_LogRow(const QString &strMessage, int MessageType);
    void m_objRun_ShowHeader(double ArticleID, const QString &Subject, const QString &PostDate,
                             double Age);
    void m_objRun_ServerMissing(const QString &text);
    void m_objRun_Connecting();
    void m_objRun_RunEnded(ResetRun::End how);
    void m_objRun_FileStarted(int index);

  private:
    void BuildControls();
    void ShowFileCount(bool several);
    void StartMultiRun();
    void EndMultiRun();
    QString MultiRunCounts(int upTo) const;
    void FlushSummary();
    void Form_Unload();
    void Text2_GotFocus();
    bool Text2_KeyPress(int KeyAscii);

    // Controls, named as the user's documentation names them.
    QGroupBox *Frame1;
    QPushButton *Command5;
    QLineEdit *Text1;
    QCheckBox *Check1;
    QLabel *Label1[3];
    QLabel *lbInfo[5];
    QLineEdit *Text2;
    QScrollBar *VScroll1;
    QGroupBox *fraMain;
    QLabel *Label2[4];
    QTreeWidget *lstLog;
    QProgressBar *ProgressBar1;
    QPushButton *Command1;
    QPushButton *Command2;
    QAction *mnuOptions;
    QAction *mnuOpen;
    QAction *mnuQuit;
    QAction *mnuAbout;

    ResetRun *m_objRun = nullptr;
    ErrorBoxFunction m_fnErrorBox;

    // The chosen file; with several chosen, all of them in order.
    QString m_strGroupFile;
    QStringList m_colGroupFiles;

    // The run over several files: its files (path, group), the one being
    // worked on (-1 before the first) and the backup question it replaced.
    QList<std::pair<QString, QString>> m_colRunFiles;
    int m_intRunFile = -1;
    bool m_blnMultiRun = false;
    std::optional<modFile::QuestionFunction> m_fnOldBackupQuestion;
    // The summary row of a finished run, held back until the server's
    // goodbye has been logged.
    QString m_strPendingSummary;
    int m_intPendingSummaryKind = 1;
};
