#pragma once
// One NNTP session with one news server over one socket object: greeting,
// CAPABILITIES and MODE READER when asked for, AUTHINFO login, GROUP, HEAD,
// HDR/XHDR Date ranges, LIST and QUIT. HEAD and header ranges may be sent
// several at a time (pipelined, RFC 3977 3.5); every other command waits for
// the reply before it. Every
// method returns at once; replies come back as signals, raised synchronously
// from inside the socket's notifications. The owner may call any method from
// inside any of these signals (it usually sends the next command there).
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>

#include "nntp/NntpReplyGatherer.h"

class CSocket;
class CTimeout;

class CNNTP : public QObject
{
    Q_OBJECT

  public:
    // Raises RaisedError when the timeout object cannot be made.
    explicit CNNTP(QObject *parent = nullptr);
    ~CNNTP() override;

    // How the session is protected: plain, TLS from the first byte, or TLS
    // after STARTTLS. Applies from the next Connect. With TLS, nothing of
    // the session (login included) travels before encryption is up and the
    // certificate is trusted, and there is never a fallback to plain text.
    // A certificate the system's authorities do not vouch for, and that is
    // not the one pinned for the server, goes to the user's question
    // (modCertificateTrust); the reply deadline does not run meanwhile.
    enum Security : int { SecurityNone = 0, SecurityTls = 1, SecurityStartTls = 2 };
    void SetSecurity(int security) { m_intSecurity = security; }
    int GetSecurity() const { return m_intSecurity; }

    // Whether the next connections ask CAPABILITIES after the greeting (and
    // after STARTTLS), and send MODE READER where the server is a transit
    // server that offers it. Off: the session sends what it always did.
    void SetAskCapabilities(bool ask) { m_blnAskCapabilities = ask; }
    // What the last CAPABILITIES said (all false when it was not asked for
    // or refused).
    bool HasHdr() const { return m_blnHdr; }
    bool HasXhdr() const { return m_blnXhdr; }
    // "HDR", "XHDR" or empty: the command that fetches a header over a range.
    QString HeaderRangeCommand() const;

    void Connect(const QString &Server, quint16 Port, const QString &UserName,
                 const QString &Password);
    void SelectGroup(const QString &Group);
    void DownloadHeader(double HeaderID);
    // Several HEADs in one write; their replies come back in order, each as
    // OnHeaderComplete. May be called again while replies are outstanding.
    // With rangeLow <= rangeHigh the write ends with that header range too
    // (see DownloadDateRange), answered after the HEADs.
    void DownloadHeaders(const QList<double> &HeaderIDs, qint64 rangeLow = 0,
                         qint64 rangeHigh = -1);
    // The Date of every article in low..high with one HDR (or XHDR) command:
    // the answer comes as OnDateRange. Needs HeaderRangeCommand().
    void DownloadDateRange(qint64 low, qint64 high);
    void DownloadGroups();
    void Disconnect();

    // What reply the session waits for: 1 greeting (or, over SSL/TLS, the
    // handshake before it), 2 STARTTLS and its handshake, 3 login, 4 QUIT,
    // 5 nothing, 6 LIST, 7 HEAD or header range, 8 GROUP, 9 CAPABILITIES,
    // 10 MODE READER.
    qint32 State() const { return m_lngState; }
    // How long a reply may keep the session waiting, counted from the last
    // command sent or the last data received (milliseconds).
    int TimeOutValue() const { return m_lngTimeOutValue; }
    void SetTimeOutValue(int milliseconds) { m_lngTimeOutValue = milliseconds; }

    // Largest reply taken in; a larger one fails the session.
    static constexpr qsizetype MaxReplySize = NntpReplyGatherer::MaxReplySize;
    static constexpr qsizetype MaxListReplySize = NntpReplyGatherer::MaxListReplySize;

  signals:
    void OnConnected(qint32 Status);
    void OnGroupSelected(double BottomID, double TopID);
    void OnDownloadGroups(const QStringList &groups);
    void OnHeaderComplete(const QString &from, const QString &Subject, const QString &PostDate,
                          const QString &MessageID, double ArticleID);
    // The answer to DownloadDateRange: the articles of low..high the server
    // listed, each with its date as "dd/mm/yyyy hh:mm:ss" UTC (empty when
    // the article has no Date), in the order given; every other number is
    // missing. ok is false when the server refused the command or a line
    // could not be read: nothing is known of the range then.
    void OnDateRange(qint64 low, qint64 high, const QList<QPair<qint64, QString>> &dates,
                     bool ok);
    void SessionProtocolMessage(const QString &strMessage, qint32 MessageType);

  private slots:
    void m_objControlSocket_OnConnect();
    void m_objControlSocket_OnConnectionRequest(qint32 requestID);
    void m_objControlSocket_OnDataArrival(qint32 bytesTotal);
    void m_objControlSocket_OnClose();
    void m_objControlSocket_OnEncrypted();
    void m_objControlSocket_OnError(qint16 Number, QString &Description, qint32 Scode,
                                    const QString &Source, const QString &HelpFile,
                                    qint32 HelpContext, bool &CancelDisplay);
    void m_objTimeOut_TimeOut();

  private:
    void SendAsynch(const QString &strCommand, const QString &strArguments);
    int AsynchConnecting(int ReplyCode);
    int AsynchStartTls(int ReplyCode);
    void AskTrust(quint64 session, const QString &reason, const QString &fingerprint);
    void Secured();
    void Greeted();
    int AsynchLogin(int ReplyCode);
    int AsynchGroupSelecting(int ReplyCode);
    int AsynchDownloadHeader(int ReplyCode);
    int AsynchDownloadGroups(int ReplyCode);
    void AsynchDateRange(int ReplyCode, qint64 low, qint64 high);
    void AskCapabilities();
    void AsynchCapabilities(int ReplyCode);
    bool RefusedBeforeReady(quint64 session);
    void SendLines(const QByteArray &lines);

    bool ProcessIncoming();
    void HandleReply(int code);
    void FailSession(const QString &text);
    void DropSocket();

    CSocket *m_objControlSocket = nullptr;
    CTimeout *m_objTimeOut = nullptr;
    QString m_strServer;
    qint32 m_lngPort = 0;
    QString m_strUserName;
    QString m_strPassword;
    QString m_strResponse;
    qint32 m_lngState = 5;
    QString m_strLastCommand;
    QString m_strLastArguments;
    int m_lngTimeOutValue = 60000;
    int m_intSecurity = SecurityNone;
    double m_dblArticle = 0;
    QString m_strGroup;

    // Commands whose replies are outstanding in the HEAD state, oldest
    // first: an article's HEAD (low) or a header range (low..high).
    struct InFlight {
        bool range = false;
        qint64 low = 0;
        qint64 high = 0;
        double article = 0;
    };
    std::deque<InFlight> m_colInFlight;
    bool m_blnAskCapabilities = false;
    bool m_blnModeReaderSent = false;
    // 0: CAPABILITIES not yet asked on this connection, 1: done with it.
    int m_intCapabilities = 0;
    bool m_blnHdr = false;
    bool m_blnXhdr = false;

    // Bytes received and not yet handed on as a whole reply.
    NntpReplyGatherer m_objGatherer;
    bool m_blnAwaitingReply = false;
    // A line that is no reply arrived while the client waited: a deadline
    // that passes then is the server's nonsense, not a silent network.
    bool m_blnNoReplySeen = false;
    // Anything at all came from the server on this connection.
    bool m_blnHeardServer = false;
    bool m_blnHandshaking = false;
    // The user is being asked whether to trust the certificate.
    bool m_blnTrustPending = false;
    // Changes whenever the connection is replaced or given up, so that a
    // loop over received replies notices that an owner's call ended it.
    quint64 m_lngSession = 0;
    quint64 m_lngCommandsSent = 0;
};
