#include "support/ModalDriver.h"

#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDialog>
#include <QPointer>
#include <QSettings>
#include <QTimer>

namespace TestSupport
{

QString UseFreshSettingsFolder()
{
    const QString folder = MakeTempFolder();
    qputenv("XDG_CONFIG_HOME", folder.toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    return folder;
}

void PrepareWindowTests()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    UseFreshSettingsFolder();
}

std::shared_ptr<bool> OnModal(std::function<bool(QWidget *)> match,
                              std::function<void(QWidget *)> action, int timeoutMs)
{
    auto done = std::make_shared<bool>(false);
    auto target = std::make_shared<QPointer<QWidget>>();
    auto *poll = new QTimer(qApp);
    poll->setInterval(5);
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!*done && modal && match(modal)) {
            // The flag goes first: the action may run a nested event loop,
            // in which this timer keeps watching the deadline.
            *done = true;
            *target = modal;
            action(modal);
            return;
        }
        if (*done && (!*target || !(*target)->isVisible())) {
            poll->stop();
            poll->deleteLater();
        } else if (deadline.hasExpired()) {
            // Topmost first: a box the action left open above its window.
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            else if (modal)
                modal->close();
            else if (!*done)
                poll->deleteLater();
        }
    });
    poll->start();
    return done;
}

} // namespace TestSupport
