#pragma once
// "Server Manager": edits the news server's host, port, security and login, and
// how the window searches, in the settings store. Created for one opening and discarded afterwards:
//   frmOptions dialog; dialog.exec();
#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class frmOptions : public QDialog
{
    Q_OBJECT

  public:
    explicit frmOptions(QWidget *parent = nullptr);

    // The server box's text when the store holds no server yet.
    static const QString ExampleServer;

  private slots:
    void chkLogin_Click();
    void cboSecurity_Click();
    void cmdOk_Click();

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void Form_Load();
    void txtOptions_GotFocus(int Index, Qt::FocusReason reason);
    bool SaveSettings();

    QGroupBox *Frame1;
    QLabel *lblStuff[4];
    QLineEdit *txtOptions[4];
    QLabel *lblSecurity;
    QComboBox *cboSecurity;
    QCheckBox *chkLogin;
    QLabel *lblSearch;
    QComboBox *cboSearch;
    QPushButton *cmdOk;
};
