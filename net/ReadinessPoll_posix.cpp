// POSIX readiness reports every state to a watch set up at any time.
#include "net/ReadinessPoll.h"

void ReadinessPoll::Follow(int, Wait, QObject *, Check) {}
