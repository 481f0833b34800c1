#pragma once
// The main window: the parameters of a reset (group cache file, day count,
// backup choice), the header of the article examined last, the log, and the
// reset run that searches the group for the article posted a given number
// of days ago and rewrites the group cache file to resume from it.
#include <QHash>
#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <functional>

class CNNTP;
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

    // Every number the user sees: shortest decimal form, no grouping, the
    // system's decimal separator, never an exponent.
    static QString NumberText(double value);
    // The probe rounding: the middle of two article numbers, a half going to
    // the even neighbour, exact for every number a double holds exactly.
    static qint64 R(qint64 a, qint64 b);

    // The window's image list, by key.
    QHash<QString, QIcon> ImageList1;

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

    void NNTP_OnConnected(int Status);
    void NNTP_OnGroupSelected(double BottomID, double TopID);
    void NNTP_OnHeaderComplete(const QString &from, const QString &Subject, const QString &PostDate,
                               const QString &MessageID, double ArticleID);

  public slots:
    // The client's log messages. A failure (kind 3) while a run waits on the
    // client means no notification will move the run on: it ends here.
    void NNTP_SessionProtocolMessage(const QString &strMessage, int MessageType);

  private:
    void BuildControls();
    void Form_Unload();
    void Text2_GotFocus();
    bool Text2_KeyPress(int KeyAscii);
    void RunNextStep();
    QString LoadServerSettings();
    void EndRun(const QString &why);
    bool RunUnderWay() const;

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

    CNNTP *NNTP = nullptr;
    ErrorBoxFunction m_fnErrorBox;

    // The chosen file.
    QString m_strGroupFile;
    QString m_strGroup;

    // The run. Article numbers are whole numbers carried in doubles, exact
    // up to 2^53, which is far beyond what any server numbers.
    QString m_strServer;
    qint16 m_intPort = 0;
    qint16 m_intLogin = 0;
    int m_intSecurity = 0;
    QString m_strUserName;
    QString m_strPassword;
    double m_dblDays = 0;
    double m_dblBottomID = 0;
    double m_dblTopID = 0;
    double m_dblBottomAge = 0;
    double m_dblTopAge = 0;
    double m_dblArticleAge = 0;
    double m_dblArticleID = 0;
    double m_dblLow = 0;
    double m_dblHigh = 0;
    qint16 m_intStep = 0;
    // Which run this is, and whether the client has reported a failure in it.
    quint32 m_lngRun = 0;
    bool m_blnSessionFailed = false;
};
