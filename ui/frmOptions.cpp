#include "ui/frmOptions.h"

#include "ui/modSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QTimer>

namespace
{

enum { ServerBox = 0, PortBox = 1, UserBox = 2, PasswordBox = 3 };

const QString Caption = QStringLiteral("Server Manager");

// Layouts are kept in twips, 15 to a pixel.
QRect Twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// The password box shows every character as "*", whatever the style's own
// mask character is.
class StarPasswordStyle : public QProxyStyle
{
  public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

const QString frmOptions::ExampleServer = QStringLiteral("ex: news.example.org");

frmOptions::frmOptions(QWidget *parent)
    : QDialog(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(Caption);
    // A face close to the 8-point one the twip layout was drawn for, so that
    // the texts fit their boxes.
    QFont face = font();
    face.setPixelSize(10);
    setFont(face);
    setFixedSize(4095 / 15, 2880 / 15);

    Frame1 = new QGroupBox(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(Twips(60, 0, 3975, 2295));

    static const char *const labels[4] = {"NNTP Server", "NNTP Port", "Username", "Password"};
    static const int rowTop[4] = {360, 720, 1440, 1800};
    static const int boxWidth[4] = {2415, 975, 2415, 2415};
    for (int i = 0; i < 4; ++i) {
        lblStuff[i] = new QLabel(QString::fromLatin1(labels[i]), Frame1);
        lblStuff[i]->setObjectName(QStringLiteral("lblStuff_%1").arg(i));
        lblStuff[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        lblStuff[i]->setGeometry(Twips(120, rowTop[i], 1095, 255));

        txtOptions[i] = new QLineEdit(Frame1);
        txtOptions[i]->setObjectName(QStringLiteral("txtOptions_%1").arg(i));
        txtOptions[i]->setGeometry(Twips(1320, rowTop[i], boxWidth[i], 285));
        txtOptions[i]->installEventFilter(this);
    }
    txtOptions[PortBox]->setText(QStringLiteral("119"));
    auto *stars = new StarPasswordStyle;
    stars->setParent(this);
    txtOptions[PasswordBox]->setStyle(stars);
    txtOptions[PasswordBox]->setEchoMode(QLineEdit::Password);

    chkLogin = new QCheckBox(QStringLiteral("NNTP Server Requires Login"), Frame1);
    chkLogin->setObjectName(QStringLiteral("chkLogin"));
    chkLogin->setGeometry(Twips(1320, 1170, 2415, 255));

    cmdOk = new QPushButton(QStringLiteral("&OK"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setGeometry(Twips(1620, 2400, 855, 375));
    cmdOk->setDefault(true);

    setTabOrder(txtOptions[ServerBox], txtOptions[PortBox]);
    setTabOrder(txtOptions[PortBox], chkLogin);
    setTabOrder(chkLogin, txtOptions[UserBox]);
    setTabOrder(txtOptions[UserBox], txtOptions[PasswordBox]);
    setTabOrder(txtOptions[PasswordBox], cmdOk);

    connect(chkLogin, &QCheckBox::toggled, this, &frmOptions::chkLogin_Click);
    connect(cmdOk, &QPushButton::clicked, this, &frmOptions::cmdOk_Click);

    Form_Load();
    txtOptions[ServerBox]->setFocus();
}

void frmOptions::Form_Load()
{
    using namespace modSettings;
    txtOptions[ServerBox]->setText(
        ReadSetting(AppName, Section, QStringLiteral("NNTPServer"), ExampleServer));
    txtOptions[PortBox]->setText(
        ReadSetting(AppName, Section, QStringLiteral("NNTPPort"), QStringLiteral("119")));
    txtOptions[UserBox]->setText(ReadSetting(AppName, Section, QStringLiteral("UserName")));
    txtOptions[PasswordBox]->setText(ReadSetting(AppName, Section, QStringLiteral("Password")));
    // Only 1 ticks the box; any other text the store may hold leaves it unticked.
    const auto login =
        WholeNumber(ReadSetting(AppName, Section, QStringLiteral("Login"), QStringLiteral("0")));
    const QSignalBlocker quiet(chkLogin);
    chkLogin->setChecked(login == 1);
    chkLogin_Click();
}

void frmOptions::chkLogin_Click()
{
    const bool on = chkLogin->isChecked();
    const QColor background = QApplication::palette().color(on ? QPalette::Base : QPalette::Button);
    for (int i : {UserBox, PasswordBox}) {
        txtOptions[i]->setEnabled(on);
        QPalette palette = txtOptions[i]->palette();
        palette.setColor(QPalette::All, QPalette::Base, background);
        txtOptions[i]->setPalette(palette);
    }
}

void frmOptions::txtOptions_GotFocus(int Index, Qt::FocusReason reason)
{
    QLineEdit *box = txtOptions[Index];
    box->selectAll();
    // A click moves the caret after the focus arrives; select again once
    // the click is through.
    if (reason == Qt::MouseFocusReason)
        QTimer::singleShot(0, box, &QLineEdit::selectAll);
}

bool frmOptions::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        for (int i = 0; i < 4; ++i) {
            if (watched == txtOptions[i])
                txtOptions_GotFocus(i, static_cast<QFocusEvent *>(event)->reason());
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmOptions::cmdOk_Click()
{
    if (SaveSettings())
        accept();
}

// Checks the port before anything is written, so that a refused port
// leaves the store as it was.
bool frmOptions::SaveSettings()
{
    using namespace modSettings;
    const auto port = WholeNumber(txtOptions[PortBox]->text());
    if (!port || *port < 1 || *port > 32767) {
        QMessageBox::warning(this, Caption,
                             QStringLiteral("The port must be a whole number from 1 to 32767."));
        txtOptions[PortBox]->setFocus(Qt::OtherFocusReason);
        txtOptions[PortBox]->selectAll();
        return false;
    }
    const bool saved =
        WriteSetting(AppName, Section, QStringLiteral("NNTPServer"),
                     txtOptions[ServerBox]->text()) &&
        WriteSetting(AppName, Section, QStringLiteral("NNTPPort"), QString::number(*port)) &&
        WriteSetting(AppName, Section, QStringLiteral("UserName"), txtOptions[UserBox]->text()) &&
        WriteSetting(AppName, Section, QStringLiteral("Password"),
                     txtOptions[PasswordBox]->text()) &&
        WriteSetting(AppName, Section, QStringLiteral("Login"),
                     chkLogin->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    if (!saved) {
        QMessageBox::warning(this, Caption,
                             QStringLiteral("The settings could not be saved to %1.")
                                 .arg(QDir::toNativeSeparators(StorePath(AppName))));
        return false;
    }
    return true;
}
