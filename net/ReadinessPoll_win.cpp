// Looks at the socket now and then, beside the readiness messages.
#include "net/ReadinessPoll.h"

#include "net/SocketApi.h"

#include <QTimer>

namespace {
// Short beside the 300 ms after which a name's next address is tried.
constexpr int kLookInterval = 50;
// A connection in use is mostly served by its notifications; this only
// bounds how long a lost reset goes unseen, well inside any reply deadline.
constexpr int kInUseInterval = 100;

bool Ready(int handle, ReadinessPoll::Wait what)
{
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    // A connect is writable once through, in the exception set once failed.
    if (what == ReadinessPoll::Wait::Connect) {
        FD_SET(SOCKET(handle), &writable);
        FD_SET(SOCKET(handle), &failed);
    } else {
        FD_SET(SOCKET(handle), &readable);
    }
    timeval now{0, 0};
    return ::select(0, &readable, &writable, &failed, &now) != 0;
}
} // namespace

void ReadinessPoll::Follow(int handle, Wait what, QObject *context, Check check)
{
    if (!context)
        return;
    auto *timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, handle, what, check] {
        timer->setInterval(what == ReadinessPoll::Wait::InUse ? kInUseInterval : kLookInterval);
        // The check may take the context, and the timer with it, away.
        if (!check(false) || (Ready(handle, what) && !check(true)))
            timer->deleteLater();
    });
    // The first look on the next turn of the event loop: what happened
    // before the watch was set up is seen at once.
    timer->start(0);
}
