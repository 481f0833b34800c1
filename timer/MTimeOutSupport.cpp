#include "timer/MTimeOutSupport.h"

#include "common/Error.h"
#include "timer/CTimeout.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QHash>
#include <QThread>
#include <QTimerEvent>

namespace MTimeOutSupport {
namespace {

// The hidden window the timers hang on: one Qt timer per registered id.
// Qt timers tick on the owner's thread through its event loop, and a timer
// that fell due several times while the thread was busy fires once.
class HiddenTimerWindow : public QObject
{
public:
    HiddenTimerWindow() { setObjectName(QStringLiteral("TIMER_WINDOW")); }

    // Replaces any timer of `id` by a fresh one, so its countdown starts
    // from zero. Returns false, with no timer left under `id`, on failure.
    bool SetTimer(quintptr id, int period)
    {
        KillTimer(id);
        if (period < 1)
            return false;
        const int qtId = startTimer(period, Qt::PreciseTimer);
        if (qtId == 0)
            return false;
        m_idOfQtTimer.insert(qtId, id);
        m_qtTimerOfId.insert(id, qtId);
        return true;
    }

    void KillTimer(quintptr id)
    {
        const auto found = m_qtTimerOfId.constFind(id);
        if (found == m_qtTimerOfId.cend())
            return;
        killTimer(found.value());
        m_idOfQtTimer.remove(found.value());
        m_qtTimerOfId.erase(found);
    }

    bool HasTimer(quintptr id) const { return m_qtTimerOfId.contains(id); }
    bool Dispatching() const { return m_dispatching > 0; }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        const auto found = m_idOfQtTimer.constFind(event->timerId());
        if (found == m_idOfQtTimer.cend())
            return;
        static QElapsedTimer clock;
        if (!clock.isValid())
            clock.start();
        // The listener may end the last timeout object and with it this
        // window; DestroyTimerWindow then leaves the deletion to the loop.
        ++m_dispatching;
        TimerProc(this, QEvent::Timer, found.value(), static_cast<quint32>(clock.elapsed()));
        --m_dispatching;
    }

private:
    QHash<int, quintptr> m_idOfQtTimer;
    QHash<quintptr, int> m_qtTimerOfId;
    int m_dispatching = 0;
};

HiddenTimerWindow *g_window = nullptr;
int g_users = 0; // living timeout objects, each holding the window

// Only the UI thread runs an event loop that the timers can tick through.
bool OnUiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// The window, when the caller's thread may touch it. Checked against the
// window itself, so the last object can still end after the application.
HiddenTimerWindow *UsableWindow()
{
    return g_window && g_window->thread() == QThread::currentThread() ? g_window : nullptr;
}

} // namespace

void CreateTimer()
{
    if (!OnUiThread() || (!g_window && !CreateTimerWindow()))
        throw RaisedError(17001, QStringLiteral("MTimeOutSupport.CreateTimer"),
                          QStringLiteral("Cannot create the timer window."));
    ++g_users;
}

QObject *CreateTimerWindow()
{
    if (!OnUiThread())
        return nullptr;
    g_window = new HiddenTimerWindow;
    return g_window;
}

quintptr RegisterTimer(int period, quintptr id)
{
    HiddenTimerWindow *window = UsableWindow();
    if (!window || !window->SetTimer(id, period))
        throw RaisedError(17002, QStringLiteral("MTimeOutSupport.RegisterTimer"),
                          QStringLiteral("Cannot create the timer"));
    return id;
}

void RestartTimer(quintptr id, int period)
{
    // No object has id 0: a timer under it would tick for nobody, forever.
    if (HiddenTimerWindow *window = UsableWindow(); window && id != 0)
        window->SetTimer(id, period);
}

void UnregisterTimer(quintptr id)
{
    if (HiddenTimerWindow *window = UsableWindow())
        window->KillTimer(id);
}

bool DestroyTimerWindow()
{
    if (g_window && !UsableWindow())
        return false;
    if (g_users > 0)
        --g_users;
    if (g_users > 0 || !g_window)
        return true;
    HiddenTimerWindow *window = g_window;
    g_window = nullptr;
    if (window->Dispatching())
        window->deleteLater();
    else
        delete window;
    return true;
}

void TimerProc(QObject *window, int message, quintptr id, quint32 tickTime)
{
    Q_UNUSED(window);
    Q_UNUSED(message);
    Q_UNUSED(tickTime);
    try {
        if (CTimeout *object = CTimeout::FromTimerId(id))
            emit object->TimeOut();
    } catch (...) {
        // A listener's failure must not unwind through the event loop.
    }
}

QObject *TimerWindow() { return g_window; }

bool HasTimer(quintptr id) { return g_window && g_window->HasTimer(id); }

} // namespace MTimeOutSupport
