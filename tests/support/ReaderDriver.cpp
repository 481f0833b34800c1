#include "support/ReaderDriver.h"

#include "app/frmReader.h"
#include "support/ModalDriver.h"
#include "support/NntpTestServer.h"
#include "ui/modSettings.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTreeWidget>

namespace TestSupport
{

bool StartOnSettingsPort(NntpTestServer &server, bool ipv6)
{
    for (int attempt = 0; attempt < 500; ++attempt) {
        const auto port = quint16(QRandomGenerator::global()->bounded(10000, 32768));
        if (server.Start(port, ipv6))
            return true;
    }
    return false;
}

void StoreServerSettings(const QString &server, int port, const QString &user,
                         const QString &password)
{
    auto put = [](const char *key, const QString &text) {
        modSettings::WriteSetting(modSettings::AppName, modSettings::Section, QLatin1String(key),
                                  text);
    };
    put("NNTPServer", server);
    put("NNTPPort", QString::number(port));
    put("Login", user.isEmpty() ? QStringLiteral("0") : QStringLiteral("1"));
    put("UserName", user);
    put("Password", password);
}

void AnswerFileDialog(QFileDialog *dialog, const QString &path)
{
    if (path.isEmpty()) {
        dialog->reject();
        return;
    }
    // Typed into the file-name box, as a user does: the dialog's own
    // selection follows its folder listing, which fills in later.
    if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        name->setText(path);
    else
        dialog->selectFile(path);
    static_cast<QDialog *>(dialog)->accept();
}

bool OpenGroupFile(frmReader &window, const QString &path)
{
    auto done =
        OnModal<QFileDialog>([path](QFileDialog *dialog) { AnswerFileDialog(dialog, path); });
    auto *open = window.findChild<QPushButton *>(QStringLiteral("Command5"));
    if (!open)
        return false;
    open->click();
    // A platform's own dialog (Windows has one) cannot be answered from
    // here: it stays open until the deadline cancels it, and the window
    // then keeps no file.
    const auto *box = window.findChild<QLineEdit *>(QStringLiteral("Text1"));
    return *done && box && box->text().endsWith(QFileInfo(path).fileName());
}

QStringList LogMessages(const frmReader &window)
{
    QStringList messages;
    const auto *log = window.findChild<QTreeWidget *>(QStringLiteral("lstLog"));
    for (int i = 0; log && i < log->topLevelItemCount(); ++i) {
        // The row is the time, a space and the message, which is also the
        // tip; a time such as "5:07:12 PM" has spaces of its own.
        const QTreeWidgetItem *row = log->topLevelItem(i);
        const QString message = row->toolTip(0);
        const QString text = row->text(0);
        messages << (text.endsWith(QLatin1Char(' ') + message) ? message
                                                               : text.section(QLatin1Char(' '), 1));
    }
    return messages;
}

QStringList LogIconKeys(const frmReader &window)
{
    QStringList keys;
    const auto *log = window.findChild<QTreeWidget *>(QStringLiteral("lstLog"));
    for (int i = 0; log && i < log->topLevelItemCount(); ++i) {
        const qint64 icon = log->topLevelItem(i)->icon(0).cacheKey();
        QString key;
        for (auto it = window.ImageList1.cbegin(); it != window.ImageList1.cend(); ++it)
            if (it.value().cacheKey() == icon)
                key = it.key();
        keys << key;
    }
    return keys;
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray ExpectedGroupFile(const QByteArray &lu, const QByteArray &server, qint64 pointer)
{
    const QByteArray body = "new = 0\rall = 0\rver = 2\rlu  = " + lu + "\r\r" + server + "\r" +
                            QByteArray::number(pointer) + "\r\r" + QByteArray(3, '\0');
    // Each byte times its 1-based position, each product cut to 16 bits.
    double sum = 0;
    for (int i = 0; i < body.size(); ++i)
        sum += qint16(quint16((i + 1) * quint8(body[i])));
    return QByteArray::number(qint64(sum)) + "\r" + body;
}

bool WriteSampleGroupFile(const QString &path, const QString &lu)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray body = "12345\rnew = 3\rall = 250\rver = 2\rlu  = " + lu.toLatin1() +
                            "\r\rnews.example.org\r4711\r\rcached header lines\r";
    return file.write(body) == body.size();
}

} // namespace TestSupport
