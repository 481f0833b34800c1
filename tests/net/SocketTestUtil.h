#pragma once
// Helpers shared by the socket-layer tests of this folder.
#include "net/CSocket.h"
#include "net/RawSocket.h"
#include "net/modSocketSupport.h"

#include <QList>
#include <QString>
#include <utility>

// The port a socket is bound to (Bind with port 0 leaves LocalPort at 0).
inline quint16 BoundPort(const CSocket &socket)
{
    quint32 address;
    quint16 port = 0;
    RawSocket::LocalAddress(socket.SocketHandle(), &address, &port);
    return port;
}

// Puts the socket into listening state and tells where.
inline quint16 ListenOnAnyPort(CSocket &socket)
{
    socket.Listen();
    return BoundPort(socket);
}

// Records OnError (its reference parameters keep it out of QSignalSpy).
struct ErrorLog {
    struct Entry {
        int Number;
        QString Description;
        QString Source;
        int StateThen;
        int HandleThen;
    };
    QList<Entry> Entries;
    explicit ErrorLog(CSocket &socket)
    {
        QObject::connect(&socket, &CSocket::OnError, &socket,
                         [this, &socket](qint16 number, QString &description, qint32, const QString &source,
                                         const QString &, qint32, bool &) {
                             Entries.append({number, description, source, socket.State(), socket.SocketHandle()});
                         });
    }
};

// Lookups that the test finishes by hand.
struct ManualResolver {
    QList<std::pair<qint32, QByteArray>> Requests;
    ManualResolver()
    {
        modSocketSupport::SetLookupStarter(
            [this](qint32 handle, const QByteArray &name) { Requests.append({handle, name}); });
    }
    ~ManualResolver() { modSocketSupport::SetLookupStarter({}); }
    static void Succeed(qint32 handle, const QByteArray &name, const char *dotted)
    {
        quint32 address = 0;
        RawSocket::ParseDotted(QString::fromLatin1(dotted), &address);
        modSocketSupport::CompleteLookup(handle, {0, name, address});
    }
    static void Fail(qint32 handle, long code) { modSocketSupport::CompleteLookup(handle, {code, {}, 0}); }
};
