#include "ui/frmAbout.h"

#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

const QString frmAbout::WebPage = QStringLiteral("http://www.example.org/");
const QString frmAbout::EMail = QStringLiteral("dev@example.org");

namespace
{

// Layouts are kept in twips, 15 to a pixel.
QRect Twips(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// A face wider than the one the layout was drawn for must not cut a text
// short: a label grows to its text, as far as its container's border
// allows, keeping its left edge or, when centred, its centre.
void FitText(QLabel *label)
{
    const int inner = label->parentWidget()->width() - 2;
    QRect box = label->geometry();
    if (label->alignment() & Qt::AlignHCenter) {
        const int wanted = qMin(label->sizeHint().width(), inner - 2);
        if (wanted > box.width())
            box = QRect(qBound(2, box.center().x() - wanted / 2, inner - wanted), box.y(), wanted,
                        box.height());
    } else {
        box.setWidth(qMax(box.width(), qMin(label->sizeHint().width(), inner - box.x())));
    }
    label->setGeometry(box);
}

void Paint(QWidget *widget, QPalette::ColorRole role, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::All, role, color);
    widget->setPalette(palette);
}

} // namespace

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Pointwind - 2026"));
    // A face close to the 8-point one the twip layout was drawn for, so that
    // the texts fit their boxes.
    QFont face = font();
    face.setPixelSize(10);
    setFont(face);
    setFixedSize(4005 / 15, 5115 / 15);
    Paint(this, QPalette::Window, Qt::white);
    setAutoFillBackground(true);

    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(Twips(120, 120, 3735, 2280));
    Image2->setPixmap(QPixmap(QStringLiteral(":/about.png")));
    Image2->setScaledContents(true);

    lblCourriel = new QLabel(EMail, this);
    lblCourriel->setObjectName(QStringLiteral("lblCourriel"));
    lblCourriel->setGeometry(Twips(2280, 2520, 1560, 195));
    Paint(lblCourriel, QPalette::WindowText, QColor(128, 0, 0));

    Frame1 = new QGroupBox(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(Twips(120, 2880, 3735, 2115));
    Frame1->setAutoFillBackground(true);

    const struct {
        int index;
        int top;
        const char *text;
    } versions[] = {
        {3, 240, "v0.3 - works fine with Newsleecher v3.7 Final!"},
        {2, 480, "v0.2 - fix 32 bits header limit"},
        {0, 720, "v0.1 - works fine with Newsleecher v2.3 Final!"},
    };
    for (const auto &version : versions) {
        QLabel *line = new QLabel(QString::fromLatin1(version.text), Frame1);
        line->setObjectName(QStringLiteral("Label2_%1").arg(version.index));
        line->setGeometry(Twips(240, version.top, 3375, 195));
        FitText(line);
        Label2[version.index] = line;
    }

    Label1 = new QLabel(WebPage, Frame1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(Twips(1080, 1200, 1845, 195));
    Label1->setAlignment(Qt::AlignCenter);
    Paint(Label1, QPalette::WindowText, Qt::blue);
    FitText(Label1);
    Label1->setCursor(Qt::PointingHandCursor);
    Label1->installEventFilter(this);

    Command1 = new QPushButton(QStringLiteral("Ok"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(Twips(1695, 4440, 615, 375));
    Command1->setDefault(true);
    Command1->setFocus();
    connect(Command1, &QPushButton::clicked, this, &frmAbout::Command1_Click);
}

void frmAbout::Command1_Click()
{
    accept();
}

// Opens the page in the desktop's handler for it; whether that works or
// not, the window stays open.
void frmAbout::Label1_Click()
{
    QDesktopServices::openUrl(QUrl::fromUserInput(Label1->text()));
}

bool frmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label1 && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton &&
            Label1->rect().contains(mouse->position().toPoint()))
            Label1_Click();
    }
    return QDialog::eventFilter(watched, event);
}
