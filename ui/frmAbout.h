#pragma once
// The About window: picture, e-mail address, version history and a link to
// the web page. Created for one opening and discarded afterwards:
//   frmAbout about; about.exec();
#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;

class frmAbout : public QDialog
{
    Q_OBJECT

  public:
    explicit frmAbout(QWidget *parent = nullptr);

    static const QString WebPage;
    static const QString EMail;

  private slots:
    void Command1_Click();

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void Label1_Click();

    QLabel *Image2;
    QLabel *lblCourriel;
    QGroupBox *Frame1;
    QLabel *Label2[4] = {}; // index 1 does not exist
    QLabel *Label1;
    QPushButton *Command1;
};
