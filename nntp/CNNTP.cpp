#include "nntp/CNNTP.h"

#include "common/Error.h"
#include "net/CSocket.h"
#include "net/SocketErrorText.h"
#include "nntp/modNNTP.h"
#include "timer/CTimeout.h"
#include "ui/modCertificateTrust.h"

#include <QPointer>

namespace
{

constexpr qint32 StateGreeting = 1;
constexpr qint32 StateStartTls = 2;
constexpr qint32 StateLogin = 3;
constexpr qint32 StateQuit = 4;
constexpr qint32 StateIdle = 5;
constexpr qint32 StateList = 6;
constexpr qint32 StateHead = 7;
constexpr qint32 StateGroup = 8;
constexpr qint32 StateCapabilities = 9;
constexpr qint32 StateModeReader = 10;

constexpr qint32 SocketConnected = 7;
constexpr int ErrorTimedOut = 10060;
constexpr int ErrorNotConnected = 10057;

const QString ClosedByServer = QStringLiteral("Connection closed by the server.");
const QString ReplyTooLarge = QStringLiteral("The server's reply is too large; connection closed.");
const QString NoNntpReply =
    QStringLiteral("The server's answer is no NNTP reply; connection closed.");
const QString HandshakeTimedOut =
    QStringLiteral("The server did not complete the TLS handshake in time; connection closed.");
const QString NoGreeting = QStringLiteral(
    "No greeting from the server. If it expects an encrypted connection, choose \"SSL/TLS\" "
    "as the security in 'File\\Edit NNTP server'.");

// The states before the session is ready for GROUP: a failure there also
// means "not connected" to the owner.
bool BeforeReady(qint32 state)
{
    return state == StateGreeting || state == StateStartTls || state == StateLogin ||
           state == StateCapabilities || state == StateModeReader;
}

// The lines of a multi-line reply after its status line, without the "."
// line and without their line ends.
QList<QStringView> BlockLines(const QString &reply)
{
    QList<QStringView> lines;
    const QStringView all(reply);
    qsizetype start = all.indexOf(QLatin1String("\r\n"));
    if (start < 0)
        return lines;
    start += 2;
    while (start < all.size()) {
        qsizetype end = all.indexOf(QLatin1String("\r\n"), start);
        if (end < 0)
            end = all.size();
        const QStringView line = all.mid(start, end - start);
        start = end + 2;
        if (line == QLatin1String(".") && start >= all.size())
            break;
        lines << line;
    }
    return lines;
}

} // namespace

CNNTP::CNNTP(QObject *parent) : QObject(parent)
{
    m_objTimeOut = new CTimeout(this);
    m_objTimeOut->SetTimeOutValue(m_lngTimeOutValue);
    connect(m_objTimeOut, &CTimeout::TimeOut, this, &CNNTP::m_objTimeOut_TimeOut,
            Qt::DirectConnection);
}

CNNTP::~CNNTP()
{
    Disconnect();
    if (m_objControlSocket) {
        // The QUIT line is with the kernel already; no notification may
        // reach a half-destroyed client.
        disconnect(m_objControlSocket, nullptr, this, nullptr);
        delete m_objControlSocket;
        m_objControlSocket = nullptr;
    }
    delete m_objTimeOut;
    m_objTimeOut = nullptr;
}

// ---- methods ------------------------------------------------------------

void CNNTP::Connect(const QString &Server, quint16 Port, const QString &UserName,
                    const QString &Password)
{
    Disconnect();
    m_strServer = Server;
    m_lngPort = Port;
    m_strUserName = UserName;
    m_strPassword = Password;
    m_lngState = StateGreeting;
    m_strResponse.clear();
    m_strLastCommand.clear();
    m_strLastArguments.clear();
    m_blnModeReaderSent = false;
    m_intCapabilities = 0;
    m_blnHdr = m_blnXhdr = false;
    emit SessionProtocolMessage(QStringLiteral("Connecting to ") + Server + QStringLiteral("..."),
                                1);

    DropSocket();
    CSocket *socket = nullptr;
    try {
        socket = new CSocket(this);
    } catch (const RaisedError &e) {
        m_lngState = StateIdle;
        emit SessionProtocolMessage(
            e.Description().isEmpty() ? SocketErrorText(e.Number()) : e.Description(), 3);
        emit OnConnected(1);
        return;
    }
    m_objControlSocket = socket;
    connect(socket, &CSocket::OnConnect, this, &CNNTP::m_objControlSocket_OnConnect,
            Qt::DirectConnection);
    connect(socket, &CSocket::OnConnectionRequest, this,
            &CNNTP::m_objControlSocket_OnConnectionRequest, Qt::DirectConnection);
    connect(socket, &CSocket::OnDataArrival, this, &CNNTP::m_objControlSocket_OnDataArrival,
            Qt::DirectConnection);
    connect(socket, &CSocket::OnClose, this, &CNNTP::m_objControlSocket_OnClose,
            Qt::DirectConnection);
    connect(socket, &CSocket::OnError, this, &CNNTP::m_objControlSocket_OnError,
            Qt::DirectConnection);
    connect(socket, &CSocket::OnEncrypted, this, &CNNTP::m_objControlSocket_OnEncrypted,
            Qt::DirectConnection);

    m_blnAwaitingReply = true;
    m_blnNoReplySeen = false;
    m_blnHeardServer = false;
    m_blnHandshaking = false;
    m_blnTrustPending = false;
    m_objTimeOut->SetTimeOutValue(m_lngTimeOutValue);
    m_objTimeOut->StartTimer();
    // A refusal may be reported from inside this call, which then drops the
    // socket: `socket` stays valid until the event loop deletes it.
    socket->Connect(Server, QVariant(int(Port)));
}

void CNNTP::SelectGroup(const QString &Group)
{
    m_strGroup = Group;
    m_lngState = StateGroup;
    SendAsynch(QStringLiteral("GROUP"), Group);
}

void CNNTP::DownloadHeader(double HeaderID)
{
    DownloadHeaders({HeaderID});
}

void CNNTP::DownloadHeaders(const QList<double> &HeaderIDs, qint64 rangeLow, qint64 rangeHigh)
{
    const bool range = rangeLow <= rangeHigh;
    if (HeaderIDs.isEmpty() && !range)
        return;
    QByteArray lines;
    for (const double id : HeaderIDs) {
        const QString number = QString::number(id, 'f', 0);
        lines += "HEAD " + number.toLatin1() + "\r\n";
        InFlight entry;
        entry.low = qint64(id);
        entry.article = id;
        m_colInFlight.push_back(entry);
    }
    m_lngState = StateHead;
    if (!HeaderIDs.isEmpty()) {
        m_dblArticle = HeaderIDs.last();
        m_strLastCommand = QStringLiteral("HEAD");
        m_strLastArguments = QString::number(HeaderIDs.last(), 'f', 0);
    }
    if (range) {
        InFlight entry;
        entry.range = true;
        entry.low = rangeLow;
        entry.high = rangeHigh;
        m_colInFlight.push_back(entry);
        QString command = HeaderRangeCommand();
        if (command.isEmpty())
            command = QStringLiteral("HDR"); // refused by the server, which is then reported
        m_strLastCommand = command;
        m_strLastArguments = QStringLiteral("Date %1-%2").arg(rangeLow).arg(rangeHigh);
        lines += (command + QLatin1Char(' ') + m_strLastArguments).toLatin1() + "\r\n";
    }
    // One write: a second small one could sit behind the first until the
    // server acknowledges it, costing a round trip of its own.
    SendLines(lines);
}

QString CNNTP::HeaderRangeCommand() const
{
    return m_blnHdr ? QStringLiteral("HDR") : m_blnXhdr ? QStringLiteral("XHDR") : QString();
}

void CNNTP::DownloadDateRange(qint64 low, qint64 high)
{
    DownloadHeaders({}, low, high);
}

void CNNTP::DownloadGroups()
{
    m_lngState = StateList;
    SendAsynch(QStringLiteral("LIST"), QString());
}

void CNNTP::Disconnect()
{
    // Before encryption is settled there is no session to leave politely.
    const bool unsettled = m_blnHandshaking || m_blnTrustPending;
    m_objTimeOut->StopTimer();
    m_blnAwaitingReply = false;
    m_blnTrustPending = false;
    m_blnHandshaking = false;
    m_lngState = StateIdle;
    if (!m_objControlSocket || m_objControlSocket->State() == 0)
        return;
    if (m_objControlSocket->State() == SocketConnected && !unsettled) {
        m_lngState = StateQuit;
        SendAsynch(QStringLiteral("QUIT"), QString());
    } else {
        // Still looking up or connecting (or already failing): there is no
        // session to leave, only an attempt to abandon.
        DropSocket();
    }
}

void CNNTP::SendAsynch(const QString &strCommand, const QString &strArguments)
{
    if (!m_objControlSocket) {
        // A command after the connection is gone must not leave its caller
        // waiting for a reply that cannot come; a QUIT has nothing to say.
        const bool quiet = m_lngState == StateQuit || strCommand == QLatin1String("QUIT");
        m_lngState = StateIdle;
        if (!quiet)
            emit SessionProtocolMessage(SocketErrorText(ErrorNotConnected), 3);
        return;
    }
    m_strLastCommand = strCommand;
    m_strLastArguments = strArguments;
    QString line = strCommand;
    if (!strArguments.isEmpty())
        line += QLatin1Char(' ') + strArguments;
    // A line break inside a name, group or password would end the command
    // early and make the server read the rest as a command of its own.
    line.remove(QLatin1Char('\r')).remove(QLatin1Char('\n')).remove(QChar(0));
    line += QLatin1String("\r\n");
    SendLines(line.toLatin1());
}

// Sends whole command lines, the clock running for their replies.
void CNNTP::SendLines(const QByteArray &lines)
{
    if (!m_objControlSocket) {
        const bool quiet = m_lngState == StateQuit;
        m_lngState = StateIdle;
        m_colInFlight.clear();
        if (!quiet)
            emit SessionProtocolMessage(SocketErrorText(ErrorNotConnected), 3);
        return;
    }
    m_strResponse.clear();
    const qint32 socketState = m_objControlSocket->State();
    if (socketState == 0 || socketState == 8 || socketState == 9) {
        // The connection is gone or going (closed by either side, or
        // failed): say so now rather than wait out the deadline.
        const bool quiet = m_lngState == StateQuit;
        m_lngState = StateIdle;
        DropSocket();
        if (!quiet)
            emit SessionProtocolMessage(SocketErrorText(ErrorNotConnected), 3);
        return;
    }
    // The clock runs first: a failure reported from inside SendData stops it.
    m_blnAwaitingReply = true;
    m_blnNoReplySeen = false;
    ++m_lngCommandsSent;
    m_objTimeOut->SetTimeOutValue(m_lngTimeOutValue);
    m_objTimeOut->StartTimer();
    m_objControlSocket->SendData(lines);
}

// ---- socket notifications ----------------------------------------------------

void CNNTP::m_objControlSocket_OnConnect()
{
    if (m_blnAwaitingReply)
        m_objTimeOut->Reset();
    if (m_intSecurity == SecurityTls && m_objControlSocket) {
        m_blnHandshaking = true;
        m_objControlSocket->StartEncryption(m_strServer);
    }
}

void CNNTP::m_objControlSocket_OnEncrypted()
{
    if (!m_blnHandshaking)
        return;
    m_blnHandshaking = false;
    const QString problem = m_objControlSocket->CertificateProblem();
    const QString fingerprint = m_objControlSocket->CertificateFingerprint();
    if (problem.isEmpty() || (!fingerprint.isEmpty() &&
                              modCertificateTrust::PinnedFingerprint(m_strServer) == fingerprint)) {
        Secured();
        return;
    }
    // The question may run an event loop of its own: it is asked from the
    // event loop rather than from inside the socket's notification, and the
    // deadline does not run while the user thinks. What arrives meanwhile
    // waits in the socket.
    m_blnTrustPending = true;
    m_objTimeOut->StopTimer();
    const quint64 session = m_lngSession;
    QMetaObject::invokeMethod(
        this, [this, session, problem, fingerprint] { AskTrust(session, problem, fingerprint); },
        Qt::QueuedConnection);
}

void CNNTP::AskTrust(quint64 session, const QString &reason, const QString &fingerprint)
{
    if (session != m_lngSession || !m_blnTrustPending)
        return;
    const QPointer<CNNTP> alive(this);
    const bool yes = modCertificateTrust::AskCertificateQuestion(m_strServer, reason, fingerprint);
    // The run may have been stopped, or the client dropped, meanwhile.
    if (!alive || session != m_lngSession || !m_blnTrustPending)
        return;
    m_blnTrustPending = false;
    if (!yes) {
        FailSession(
            QStringLiteral("The certificate of %1 is not trusted: %2.").arg(m_strServer, reason));
        return;
    }
    if (!modCertificateTrust::PinFingerprint(m_strServer, fingerprint))
        emit SessionProtocolMessage(
            QStringLiteral(
                "The trusted certificate could not be stored; it will be asked about again."),
            2);
    Secured();
}

// Encryption is up and trusted.
void CNNTP::Secured()
{
    emit SessionProtocolMessage(QStringLiteral("Encrypted connection (") +
                                    m_objControlSocket->EncryptionDescription() + QLatin1Char(')'),
                                1);
    if (m_lngState == StateStartTls) {
        Greeted();
        if (!m_blnAwaitingReply)
            m_objTimeOut->StopTimer();
        return;
    }
    // The greeting is still to come, or already waiting in the socket.
    m_objTimeOut->SetTimeOutValue(m_lngTimeOutValue);
    m_objTimeOut->StartTimer();
    if (m_objControlSocket && m_objControlSocket->BytesReceived() > 0)
        m_objControlSocket_OnDataArrival(m_objControlSocket->BytesReceived());
}

void CNNTP::m_objControlSocket_OnConnectionRequest(qint32 requestID)
{
    m_objControlSocket->CloseSocket();
    m_objControlSocket->Accept(requestID);
}

void CNNTP::m_objControlSocket_OnDataArrival(qint32)
{
    m_blnHeardServer = true;
    if (m_blnTrustPending)
        return;
    QByteArray data;
    m_objControlSocket->GetData(data);
    if (data.isEmpty())
        return;
    m_objGatherer.Append(data);
    const quint64 session = m_lngSession;
    const quint64 commands = m_lngCommandsSent;
    const bool progress = ProcessIncoming();
    // Part of a reply came, so the wait starts afresh, unless a command sent
    // meanwhile already restarted the clock (the usual case: one restart per
    // command). Lines that are no reply are no progress: a server sending
    // them without end must not hold the client for ever.
    if (progress && m_blnAwaitingReply && session == m_lngSession && commands == m_lngCommandsSent)
        m_objTimeOut->Reset();
}

void CNNTP::m_objControlSocket_OnClose()
{
    if (m_blnAwaitingReply && m_lngState != StateQuit) {
        FailSession(ClosedByServer);
        return;
    }
    // A close after QUIT, or while nothing was asked, is no failure; the
    // next command finds the connection gone.
    if (m_lngState == StateQuit) {
        m_objTimeOut->StopTimer();
        m_blnAwaitingReply = false;
        m_lngState = StateIdle;
    }
}

void CNNTP::m_objControlSocket_OnError(qint16, QString &Description, qint32, const QString &,
                                       const QString &, qint32, bool &)
{
    FailSession(Description);
}

void CNNTP::m_objTimeOut_TimeOut()
{
    if (!m_blnAwaitingReply || !m_objControlSocket) {
        m_objTimeOut->StopTimer();
        return;
    }
    if (m_lngState == StateQuit) {
        // The server did not say goodbye; the session is over all the same.
        m_objTimeOut->StopTimer();
        m_blnAwaitingReply = false;
        m_lngState = StateIdle;
        DropSocket();
        return;
    }
    // A server that waits for a TLS handshake says nothing to a plain
    // client: the likely cause is worth a line before the failure.
    if (!m_blnHandshaking && m_lngState == StateGreeting && m_intSecurity == SecurityNone &&
        !m_blnHeardServer)
        emit SessionProtocolMessage(NoGreeting, 1);
    FailSession(m_blnHandshaking   ? HandshakeTimedOut
                : m_blnNoReplySeen ? NoNntpReply
                                   : SocketErrorText(ErrorTimedOut));
}

// ---- reply gathering -------------------------------------------------------------

// True when a reply was handled or part of one is waiting for more.
bool CNNTP::ProcessIncoming()
{
    const quint64 session = m_lngSession;
    bool progress = false;
    while (m_lngSession == session && m_objGatherer.HasPending()) {
        int code = 0;
        switch (m_objGatherer.Next(code, m_strResponse)) {
        case NntpReplyGatherer::Scan::Incomplete:
            return true;
        case NntpReplyGatherer::Scan::TooLarge:
            FailSession(ReplyTooLarge);
            return true;
        case NntpReplyGatherer::Scan::NoReply:
            if (m_blnAwaitingReply)
                m_blnNoReplySeen = true;
            continue;
        case NntpReplyGatherer::Scan::Complete:
            HandleReply(code);
            progress = true;
            break;
        }
    }
    return progress;
}

// A whole reply with a code is in m_strResponse.
void CNNTP::HandleReply(int code)
{
    const bool awaited = m_blnAwaitingReply;
    m_blnAwaitingReply = false;

    if (code == 205) {
        const qint32 was = m_lngState;
        m_colInFlight.clear();
        m_objTimeOut->StopTimer();
        m_objControlSocket->CloseSocket();
        m_lngState = StateIdle;
        emit SessionProtocolMessage(QStringLiteral("Closing connection. Goodbye!"), 1);
        // Unasked, before the command's answer: the owner must not wait on.
        if (awaited && was != StateQuit) {
            emit SessionProtocolMessage(ClosedByServer, 3);
            if (BeforeReady(was))
                emit OnConnected(1);
        }
        return;
    }
    if (!awaited)
        return; // nothing was asked: a second notification for an answered command would mislead
                // the owner
    if (m_lngState == StateQuit && !m_colInFlight.empty()) {
        // The answer to a command sent before QUIT: the goodbye is still to come.
        m_colInFlight.pop_front();
        m_blnAwaitingReply = true;
        return;
    }
    InFlight entry;
    entry.article = m_dblArticle;
    entry.low = qint64(m_dblArticle);
    if (m_lngState == StateHead && !m_colInFlight.empty()) {
        entry = m_colInFlight.front();
        m_colInFlight.pop_front();
        // Set before the owner hears of this reply, so that it sees the
        // session still waiting for the rest.
        m_blnAwaitingReply = !m_colInFlight.empty();
    }
    // The capability talk and header ranges have a quiet fallback of their own.
    const bool quiet = m_lngState == StateStartTls || m_lngState == StateCapabilities ||
                       m_lngState == StateModeReader || entry.range;
    if ((code == 480 || code == 483 || code == 502) && !quiet) {
        // Login or encryption needed, or not permitted: the server's own
        // words tell the user more than "Unknown Group" would.
        QString line = m_strResponse;
        line.chop(2);
        emit SessionProtocolMessage(line, 3);
    }

    switch (m_lngState) {
    case StateGreeting:
        AsynchConnecting(code);
        break;
    case StateStartTls:
        AsynchStartTls(code);
        break;
    case StateLogin:
        AsynchLogin(code);
        break;
    case StateList:
        AsynchDownloadGroups(code);
        break;
    case StateHead:
        if (entry.range) {
            AsynchDateRange(code, entry.low, entry.high);
        } else {
            m_dblArticle = entry.article;
            AsynchDownloadHeader(code);
        }
        break;
    case StateCapabilities:
        AsynchCapabilities(code);
        break;
    case StateModeReader:
        // Refused or not: the rest of the session tells whether reading works.
        if (code == 200 || code == 201) {
            AskCapabilities();
        } else {
            m_intCapabilities = 1;
            Greeted();
        }
        break;
    case StateGroup:
        AsynchGroupSelecting(code);
        break;
    default:
        break;
    }
    // The owner usually sent the next command from inside the handler's
    // notification; only when nothing is outstanding does the clock stop.
    if (!m_blnAwaitingReply)
        m_objTimeOut->StopTimer();
}

// ---- reply handlers ------------------------------------------------------------

int CNNTP::AsynchConnecting(int ReplyCode)
{
    if (ReplyCode == 200 || ReplyCode == 201) {
        if (m_intSecurity == SecurityStartTls) {
            m_lngState = StateStartTls;
            SendAsynch(QStringLiteral("STARTTLS"), QString());
            return 0;
        }
        Greeted();
        return 1;
    }
    emit SessionProtocolMessage(QStringLiteral("Connexion error"), 3);
    RefusedBeforeReady(m_lngSession);
    return 0;
}

// Tells the owner the session will not be ready and leaves the server,
// unless the owner already did so (or connected anew) on hearing it: one
// QUIT only.
bool CNNTP::RefusedBeforeReady(quint64 session)
{
    emit OnConnected(1);
    if (session != m_lngSession || m_lngState == StateQuit || m_lngState == StateIdle)
        return false;
    Disconnect();
    return true;
}

void CNNTP::AskCapabilities()
{
    m_lngState = StateCapabilities;
    SendAsynch(QStringLiteral("CAPABILITIES"), QString());
}

void CNNTP::AsynchCapabilities(int ReplyCode)
{
    // Anything but the list (500 from an older server) means none.
    bool reader = false, modeReader = false;
    m_blnHdr = m_blnXhdr = false;
    if (ReplyCode == 101) {
        for (const QStringView line : BlockLines(m_strResponse)) {
            const QStringView word = line.trimmed().split(QLatin1Char(' ')).value(0);
            if (word.compare(QLatin1String("HDR"), Qt::CaseInsensitive) == 0)
                m_blnHdr = true;
            else if (word.compare(QLatin1String("XHDR"), Qt::CaseInsensitive) == 0)
                m_blnXhdr = true;
            else if (word.compare(QLatin1String("READER"), Qt::CaseInsensitive) == 0)
                reader = true;
            else if (word.compare(QLatin1String("MODE-READER"), Qt::CaseInsensitive) == 0)
                modeReader = true;
        }
    }
    if (modeReader && !reader && !m_blnModeReaderSent) {
        // A transit server that turns reader on request; what it offers
        // then is asked again.
        m_blnModeReaderSent = true;
        m_lngState = StateModeReader;
        SendAsynch(QStringLiteral("MODE"), QStringLiteral("READER"));
        return;
    }
    m_intCapabilities = 1;
    Greeted();
}

// The greeting was good and, where asked for, encryption is up.
void CNNTP::Greeted()
{
    if (m_blnAskCapabilities && m_intCapabilities == 0) {
        AskCapabilities();
        return;
    }
    emit SessionProtocolMessage(QStringLiteral("Connected"), 1);
    if (m_strUserName.isEmpty() && m_strPassword.isEmpty()) {
        emit OnConnected(0);
        return;
    }
    m_lngState = StateLogin;
    SendAsynch(QStringLiteral("AUTHINFO user"), m_strUserName);
}

int CNNTP::AsynchStartTls(int ReplyCode)
{
    if (ReplyCode == 382) {
        // Anything behind the 382 came before the encryption and is dropped
        // unread: an attacker could have put it there.
        m_objGatherer.Clear();
        m_blnAwaitingReply = true;
        m_blnHandshaking = true;
        m_objTimeOut->SetTimeOutValue(m_lngTimeOutValue);
        m_objTimeOut->StartTimer();
        m_objControlSocket->StartEncryption(m_strServer);
        return 1;
    }
    // No fallback to plain text: the server's own words end the run.
    QString line = m_strResponse;
    line.chop(2);
    emit SessionProtocolMessage(line, 3);
    RefusedBeforeReady(m_lngSession);
    return 0;
}

int CNNTP::AsynchLogin(int ReplyCode)
{
    if (m_strLastCommand == QLatin1String("AUTHINFO user") && ReplyCode == 381) {
        SendAsynch(QStringLiteral("AUTHINFO pass"), m_strPassword);
        return 0;
    }
    const bool accepted = ReplyCode == 250 || ReplyCode == 281;
    const QString user = m_strUserName;
    if (accepted) {
        emit SessionProtocolMessage(QStringLiteral("User ") + user + QStringLiteral(" logged in"),
                                    1);
        emit OnConnected(0);
        return 1;
    }
    emit SessionProtocolMessage(QStringLiteral("User ") + user + QStringLiteral(" not logged in"),
                                3);
    RefusedBeforeReady(m_lngSession);
    return 0;
}

int CNNTP::AsynchGroupSelecting(int ReplyCode)
{
    qint64 first = 0, last = 0;
    const QString group = m_strGroup;
    if (ReplyCode == 211) {
        const modNNTP::GroupRange range = modNNTP::ParseGroupReply(m_strResponse);
        first = range.first;
        last = range.last;
        emit SessionProtocolMessage(QStringLiteral("Group ") + group + QStringLiteral(" selected"),
                                    1);
    } else {
        emit SessionProtocolMessage(QStringLiteral("Unknown Group ") + group, 3);
    }
    emit OnGroupSelected(double(first), double(last));
    return 1;
}

int CNNTP::AsynchDownloadHeader(int ReplyCode)
{
    modNNTP::ArticleHeader h;
    if (ReplyCode == 221)
        h = modNNTP::ParseArticleHeader(m_strResponse, m_dblArticle);
    const double article = m_dblArticle;
    emit OnHeaderComplete(h.from, h.Subject, h.PostDate, h.MessageID, article);
    return 1;
}

// HDR answers 225, XHDR 221; 423 says none of the range is there. Lines
// must be "number value" with numbers rising inside the range, and a value
// that is a date or empty: anything else means the server's answer cannot
// be trusted for this range at all.
void CNNTP::AsynchDateRange(int ReplyCode, qint64 low, qint64 high)
{
    QList<QPair<qint64, QString>> dates;
    bool ok = ReplyCode == 225 || ReplyCode == 221 || ReplyCode == 423;
    if (ReplyCode == 225 || ReplyCode == 221) {
        qint64 previous = low - 1;
        for (const QStringView line : BlockLines(m_strResponse)) {
            const qsizetype space = line.indexOf(QLatin1Char(' '));
            bool number = false;
            const qint64 article = (space < 0 ? line : line.left(space)).toLongLong(&number);
            if (!number || article <= previous || article > high) {
                ok = false;
                break;
            }
            const QString value =
                space < 0 ? QString() : line.mid(space + 1).trimmed().toString();
            QString date;
            if (!value.isEmpty()) {
                date = modNNTP::ConvertNNTPDate(value);
                if (date.isEmpty()) {
                    ok = false;
                    break;
                }
            }
            dates.append({article, date});
            previous = article;
        }
    }
    if (!ok)
        dates.clear();
    emit OnDateRange(low, high, dates, ok);
}

int CNNTP::AsynchDownloadGroups(int ReplyCode)
{
    if (ReplyCode != 215)
        return 0;
    QStringList groups = modNNTP::ParseGroupList(m_strResponse);
    const qsizetype padded = (groups.size() + 99) / 100 * 100;
    while (groups.size() < padded)
        groups << QString();
    emit OnDownloadGroups(groups);
    return 0;
}

// ---- failures ----------------------------------------------------------------

// The session cannot go on: the owner hears why, and a client still waiting
// for its greeting or login also hears that it will not be connected.
void CNNTP::FailSession(const QString &text)
{
    const bool beforeReady = BeforeReady(m_lngState);
    const bool leaving = m_lngState == StateQuit;
    m_objTimeOut->StopTimer();
    m_blnAwaitingReply = false;
    m_blnTrustPending = false;
    m_blnHandshaking = false;
    m_lngState = StateIdle;
    DropSocket();
    if (leaving)
        return;
    emit SessionProtocolMessage(text, 3);
    if (beforeReady)
        emit OnConnected(1);
}

// Closes and lets go of the socket object. It may be inside one of its own
// notifications, so it is deleted once that has returned.
void CNNTP::DropSocket()
{
    ++m_lngSession;
    m_objGatherer.Clear();
    m_colInFlight.clear();
    if (!m_objControlSocket)
        return;
    CSocket *socket = m_objControlSocket;
    m_objControlSocket = nullptr;
    disconnect(socket, nullptr, this, nullptr);
    socket->CloseSocket();
    socket->CloseSocket(); // the second call releases a half-closed handle at once
    socket->deleteLater();
}
