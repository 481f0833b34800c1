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

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
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

  protected:
    void closeEvent(QCloseEvent *event) override;
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

  private:
    void BuildControls();
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
    QPushButton *Command1;
    QPushButton *Command2;
    QAction *mnuOptions;
    QAction *mnuOpen;
    QAction *mnuQuit;
    QAction *mnuAbout;

    ResetRun *m_objRun = nullptr;
    ErrorBoxFunction m_fnErrorBox;

    // The chosen file.
    QString m_strGroupFile;
};
