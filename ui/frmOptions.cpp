#include "ui/frmOptions.h"

#include "ui/modSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
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
    setFixedSize(4095 / 15, 3600 / 15);

    Frame1 = new QGroupBox(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(Twips(60, 0, 3975, 3015));

    static const char *const labels[4] = {"NNTP Server", "NNTP Port", "Username", "Password"};
    static const int rowTop[4] = {360, 720, 1800, 2160};
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

    lblSecurity = new QLabel(QStringLiteral("Security"), Frame1);
    lblSecurity->setObjectName(QStringLiteral("lblSecurity"));
    lblSecurity->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblSecurity->setGeometry(Twips(120, 1080, 1095, 255));
    cboSecurity = new QComboBox(Frame1);
    cboSecurity->setObjectName(QStringLiteral("cboSecurity"));
    cboSecurity->addItems(
        {QStringLiteral("None"), QStringLiteral("SSL/TLS"), QStringLiteral("STARTTLS")});
    cboSecurity->setGeometry(Twips(1320, 1080, 1455, 300));

    chkLogin = new QCheckBox(QStringLiteral("NNTP Server Requires Login"), Frame1);
    chkLogin->setObjectName(QStringLiteral("chkLogin"));
    chkLogin->setGeometry(Twips(1320, 1530, 2415, 255));

    lblSearch = new QLabel(QStringLiteral("Search"), Frame1);
    lblSearch->setObjectName(QStringLiteral("lblSearch"));
    lblSearch->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblSearch->setGeometry(Twips(120, 2520, 1095, 255));
    cboSearch = new QComboBox(Frame1);
    cboSearch->setObjectName(QStringLiteral("cboSearch"));
    cboSearch->addItems({QStringLiteral("Halving"), QStringLiteral("Fast")});
    cboSearch->setGeometry(Twips(1320, 2520, 1455, 300));
    lblSearch->setBuddy(cboSearch);

    cmdOk = new QPushButton(QStringLiteral("&OK"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setGeometry(Twips(1620, 3120, 855, 375));
    cmdOk->setDefault(true);

    setTabOrder(txtOptions[ServerBox], txtOptions[PortBox]);
    setTabOrder(txtOptions[PortBox], cboSecurity);
    setTabOrder(cboSecurity, chkLogin);
    setTabOrder(chkLogin, txtOptions[UserBox]);
    setTabOrder(txtOptions[UserBox], txtOptions[PasswordBox]);
    setTabOrder(txtOptions[PasswordBox], cboSearch);
    setTabOrder(cboSearch, cmdOk);

    connect(chkLogin, &QCheckBox::toggled, this, &frmOptions::chkLogin_Click);
    connect(cboSecurity, &QComboBox::currentIndexChanged, this, &frmOptions::cboSecurity_Click);
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
    // Anything but 0, 1 or 2 opens as "None"; the run refuses it until saved.
    const auto security =
        WholeNumber(ReadSetting(AppName, Section, QStringLiteral("Security"), QStringLiteral("0")));
    const QSignalBlocker still(cboSecurity);
    cboSecurity->setCurrentIndex(security && *security >= 0 && *security <= 2 ? *security : 0);
    // Anything but 1 is halving, as the window reads it.
    const auto search =
        WholeNumber(ReadSetting(AppName, Section, QStringLiteral("Search"), QStringLiteral("0")));
    cboSearch->setCurrentIndex(search == 1 ? 1 : 0);
}

// The usual ports follow the choice; a port the user picked stays.
void frmOptions::cboSecurity_Click()
{
    QLineEdit *port = txtOptions[PortBox];
    if (cboSecurity->currentIndex() == 1 && port->text() == QLatin1String("119"))
        port->setText(QStringLiteral("563"));
    else if (cboSecurity->currentIndex() == 0 && port->text() == QLatin1String("563"))
        port->setText(QStringLiteral("119"));
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
                     chkLogin->isChecked() ? QStringLiteral("1") : QStringLiteral("0")) &&
        WriteSetting(AppName, Section, QStringLiteral("Security"),
                     QString::number(cboSecurity->currentIndex())) &&
        WriteSetting(AppName, Section, QStringLiteral("Search"),
                     QString::number(cboSearch->currentIndex()));
    if (!saved) {
        QMessageBox::warning(this, Caption,
                             QStringLiteral("The settings could not be saved to %1.")
                                 .arg(QDir::toNativeSeparators(StorePath(AppName))));
        return false;
    }
    return true;
}
