#pragma once
// Texts of the socket layer's error codes (Windows Sockets numbering).
#include <QString>

// One-line English text for a socket error code; "Unknown error." for
// codes without an entry.
QString SocketErrorText(long code);

// Description raised when the socket service fails to start; empty for
// codes without one.
QString SocketStartupDescription(long code);
