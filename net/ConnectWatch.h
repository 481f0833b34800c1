#pragma once
// Connects whose end the readiness notification may never report. Winsock
// (as Wine has it, at least) tells a failed connect only to a watch that was
// set up before it failed, and Qt sets its watch up one turn of the event
// loop later: a connect refused at once on loopback would wait forever.
#include <QObject>
#include <functional>

namespace ConnectWatch {

// Asked with false whether the connect is still awaited (false ends the
// watch), with true once it has ended, either way.
using Outcome = std::function<bool(bool ended)>;
// Follows the connect on the handle for as long as the context lives.
void Follow(int handle, QObject *context, Outcome outcome);

} // namespace ConnectWatch
