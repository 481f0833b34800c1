#include "net/SocketErrorText.h"

QString SocketErrorText(long code)
{
    const char *text = "Unknown error.";
    switch (code) {
    case 10004: text = "Interrupted function call."; break;
    case 10013: text = "Permission denied."; break;
    case 10014: text = "Bad address."; break;
    case 10022: text = "Invalid argument."; break;
    case 10024: text = "Too many open files."; break;
    case 10035: text = "Resource temporarily unavailable."; break;
    case 10036: text = "Operation now in progress."; break;
    case 10037: text = "Operation already in progress."; break;
    case 10038: text = "Socket operation on nonsocket."; break;
    case 10039: text = "Destination address required."; break;
    case 10040: text = "Message too long."; break;
    case 10041: text = "Protocol wrong type for socket."; break;
    case 10042: text = "Bad protocol option."; break;
    case 10043: text = "Protocol not supported."; break;
    case 10044: text = "Socket type not supported."; break;
    case 10045: text = "Operation not supported."; break;
    case 10046: text = "Protocol family not supported."; break;
    case 10047: text = "Address family not supported by protocol family."; break;
    case 10048: text = "Address already in use."; break;
    case 10049: text = "Cannot assign requested address."; break;
    case 10050: text = "Network is down."; break;
    case 10051: text = "Network is unreachable."; break;
    case 10052: text = "Network dropped connection on reset."; break;
    case 10053: text = "Software caused connection abort."; break;
    case 10054: text = "Connection reset by peer."; break;
    case 10055: text = "No buffer space available."; break;
    case 10056: text = "Socket is already connected."; break;
    case 10057: text = "Socket is not connected."; break;
    case 10058: text = "Cannot send after socket shutdown."; break;
    case 10060: text = "Connection timed out."; break;
    case 10061: text = "Connection refused."; break;
    case 10064: text = "Host is down."; break;
    case 10065: text = "No route to host."; break;
    case 10067: text = "Too many processes."; break;
    case 10091: text = "Network subsystem is unavailable."; break;
    case 10092: text = "Winsock.dll version out of range."; break;
    case 10093: text = "Successful WSAStartup not yet performed."; break;
    case 10101: text = "Graceful shutdown in progress."; break;
    case 10107: text = "System call failure."; break;
    case 10109: text = "Class type not found."; break;
    case 11001: text = "Host not found."; break;
    case 11002: text = "Nonauthoritative host not found."; break;
    case 11003: text = "This is a nonrecoverable error."; break;
    case 11004: text = "Valid name, no data record of requested type."; break;
    case 12001: text = "TLS could not be set up."; break;
    case 12002: text = "TLS handshake failed."; break;
    case 12003: text = "The server does not speak TLS."; break;
    case 12004: text = "TLS protocol error."; break;
    case 12005: text = "The TLS connection was cut off."; break;
    default: break;
    }
    return QString::fromLatin1(text);
}

QString SocketStartupDescription(long code)
{
    switch (code) {
    case 10022:
        return QStringLiteral("The Windows Sockets version specified by the "
                              "application is not supported by this DLL.");
    case 10091:
        return QStringLiteral("The underlying network subsystem is not "
                              "ready for network communication.");
    case 10092:
        return QStringLiteral("The version of Windows Sockets API support "
                              "requested is not provided by this particular "
                              "Windows Sockets implementation.");
    default:
        return QString();
    }
}
