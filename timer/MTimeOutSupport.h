#pragma once
// Process-wide support of the timeout objects: one hidden timer window that
// owns a periodic timer per registered id, and the tick callback that turns
// an id back into its CTimeout. UI thread only.
#include <QtGlobal>

class QObject;

namespace MTimeOutSupport {

// Called once by every CTimeout as it is created. Makes the timer window
// when none exists. Raises 17001 when the window cannot be made, which is
// also the case off the UI thread, where no timer of it could ever tick.
void CreateTimer();

// Makes the timer window and remembers it; nullptr on failure.
QObject *CreateTimerWindow();

// Starts (or restarts from zero) the periodic timer of `id`. Returns the id;
// raises 17002 when no timer could be started, leaving none under that id.
quintptr RegisterTimer(int period, quintptr id);

// As RegisterTimer, but failures are ignored. Brings back a stopped timer.
// A period below 1 leaves no timer running: nothing can count down from it.
void RestartTimer(quintptr id, int period);

// Kills the timer of `id`, if there is one.
void UnregisterTimer(quintptr id);

// Called once by every CTimeout as it ends. The window goes with the last
// of them, so ending one object never takes the timers of another that
// still lives. Returns false only when something failed inside.
bool DestroyTimerWindow();

// The tick callback: raises TimeOut on the living object whose id this is.
// Ticks of ids that name no living object are ignored; nothing escapes it.
void TimerProc(QObject *window, int message, quintptr id, quint32 tickTime);

// The timer window, nullptr while no timeout object lives.
QObject *TimerWindow();

// Whether a timer is currently running under `id`.
bool HasTimer(quintptr id);

} // namespace MTimeOutSupport
