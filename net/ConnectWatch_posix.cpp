// POSIX readiness reports a connect's end to a watch set up at any time.
#include "net/ConnectWatch.h"

void ConnectWatch::Follow(int, QObject *, Outcome) {}
