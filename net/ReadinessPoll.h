#pragma once
// Socket states the readiness notification may never report, looked for by
// polling where the platform needs it. Winsock (as Wine has it, at least)
// tells a failed connect only to a watch that was set up before it failed,
// and Qt sets its watch up one turn of the event loop later: a connect
// refused at once on loopback would wait forever. Likewise the peer's close
// that came while the watch was being renewed is lost once we have shut
// down our own side: a connection we close would never finish closing.
// And a reset of a connection in use may go unreported: the owner would
// wait for its reply deadline and take the reset for a silent server.
#include <QObject>
#include <functional>

namespace ReadinessPoll {

enum class Wait {
    Connect,  // the connect's end: connected or failed
    Readable, // data, the peer's end, or a reset
    InUse,    // the same on a connection in use, looked at less often
};

// Asked with false whether the wait still stands (false ends it), with true
// when the socket is ready for it (false then ends the wait too).
using Check = std::function<bool(bool ready)>;
// Polls the handle for as long as the check wants it and the context lives.
void Follow(int handle, Wait what, QObject *context, Check check);

} // namespace ReadinessPoll
