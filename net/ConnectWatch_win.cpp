// Looks for the connect's end now and then, beside the readiness messages.
#include "net/ConnectWatch.h"

#include "net/SocketApi.h"

#include <QTimer>

namespace {
// Short beside the 300 ms after which a name's next address is tried.
constexpr int kLookInterval = 50;
} // namespace

void ConnectWatch::Follow(int handle, QObject *context, Outcome outcome)
{
    if (!context)
        return;
    auto *timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, handle, outcome] {
        if (!outcome(false)) {
            timer->deleteLater();
            return;
        }
        // Writable once connected, in the exception set once failed.
        fd_set written, failed;
        FD_ZERO(&written);
        FD_ZERO(&failed);
        FD_SET(SOCKET(handle), &written);
        FD_SET(SOCKET(handle), &failed);
        timeval now{0, 0};
        if (::select(0, nullptr, &written, &failed, &now) != 0) {
            timer->deleteLater(); // the outcome may take the context with it
            outcome(true);
        }
    });
    timer->start(kLookInterval);
}
