#pragma once
// The reset run without a window: it reads the server settings, connects
// once, and for each group cache file selects its group, searches it for the
// article posted a given number of days ago and rewrites the file to resume
// from there. The main window drives it for one file, the command line for
// many; both show what it reports through its signals. It asks its questions
// through the seams of modFile (backup) and modCertificateTrust.
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class CNNTP;
class FastArticleSearch;

class ResetRun : public QObject
{
    Q_OBJECT

  public:
    enum class Search { Halve, Fast };
    enum class Outcome { Rewritten, DryRun, Failed };
    // How a run ended, for the window's button: a file written (or its write
    // failed), the run stopped, or the user's Cancel at the backup question.
    enum class End { Finished, Stopped, BackupCancelled };
    Q_ENUM(End)

    struct FileResult {
        QString file;
        QString group;
        Outcome outcome = Outcome::Failed;
        double pointer = 0;
        std::optional<double> age;
        int requests = 0; // HEAD (and header range) commands sent for this file
        int rounds = 0;   // round trips of the search: waits for replies
        QString error;    // the failure's log text, empty when none
    };

    // Server settings the command line gives; each one set replaces the
    // stored one.
    struct Overrides {
        std::optional<QString> server;
        std::optional<int> port;
        std::optional<QString> user;
        std::optional<QString> password;
        std::optional<int> security;
    };

    // Raises RaisedError when the client cannot be made.
    explicit ResetRun(QObject *parent = nullptr);
    ~ResetRun() override;

    CNNTP *Client() const { return NNTP; }

    void SetOverrides(const Overrides &overrides) { m_objOverrides = overrides; }
    void SetSearch(Search search) { m_enmSearch = search; }
    // Read when a file is about to be written, not at the start.
    void SetMakeBackup(bool makeBackup) { m_blnMakeBackup = makeBackup; }
    void SetDryRun(bool dryRun) { m_blnDryRun = dryRun; }
    // How often a lost connection is made again within one run.
    void SetReconnects(int reconnects) { m_intReconnects = reconnects; }

    // Reads the server settings (store, then overrides). Returns the log text
    // of a setting that cannot be used, empty when all can.
    QString LoadServerSettings();
    QString Server() const { return m_strServer; }
    // Whether the settings ask for a login, and the user name they give.
    bool LoginWanted() const { return m_intLogin > 0; }
    QString UserName() const { return m_strUserName; }
    bool HasPassword() const { return !m_strPassword.isEmpty(); }

    // Starts a run over the files (path and group name each) for the day
    // count as typed. False when it did not start: the reason is logged, or
    // ServerMissing raised, and nothing was sent.
    bool Start(const QList<std::pair<QString, QString>> &files, const QString &days);
    // Stops a run; a notification still on its way only leaves the server.
    void Cancel();
    bool RunUnderWay() const;

    const QList<FileResult> &Results() const { return m_colResults; }
    int Connections() const { return m_intConnections; }

    // Every number the user sees: shortest decimal form, no grouping, the
    // system's decimal separator, never an exponent.
    static QString NumberText(double value);
    // The probe rounding: the middle of two article numbers, a half going to
    // the even neighbour, exact for every number a double holds exactly.
    static qint64 R(qint64 a, qint64 b);
    // The system's time of day with seconds, as the log shows it.
    static QString TimeOfDayText();
    // A day count as typed: a whole number from 0 to 999.
    static std::optional<int> DayCount(const QString &text);

  signals:
    void LogRow(const QString &strMessage, int MessageType);
    // The article examined last: the number asked for, its subject, date
    // text and age in days.
    void ShowHeader(double ArticleID, const QString &Subject, const QString &PostDate, double Age);
    // No server is set: the run cannot start.
    void ServerMissing(const QString &text);
    // The run connects now (raised before the connection is asked for).
    void Connecting();
    // The search of file `index` (0-based) begins with its GROUP.
    void FileStarted(int index);
    void RunEnded(ResetRun::End how);

  public slots:
    void NNTP_OnConnected(int Status);
    void NNTP_OnGroupSelected(double BottomID, double TopID);
    void NNTP_OnHeaderComplete(const QString &from, const QString &Subject, const QString &PostDate,
                               const QString &MessageID, double ArticleID);
    void NNTP_SessionProtocolMessage(const QString &strMessage, int MessageType);
    void NNTP_OnDateRange(qint64 low, qint64 high, const QList<QPair<qint64, QString>> &dates,
                          bool ok);

  private:
    void RunNextStep();
    void SelectCurrentGroup();
    void DownloadHeader(double id);
    void NextFastRound();
    void FastReplyIn();
    void FinishFile();
    bool StoppedByFileInUse(const QString &path);
    void FileDone(Outcome outcome, const QString &error, End how);
    void FailRemaining(const QString &error);
    void SessionLost();
    void EndRun(End how);
    bool LastFile() const { return m_intFile + 1 >= m_colFiles.size(); }

    CNNTP *NNTP = nullptr;
    Overrides m_objOverrides;
    Search m_enmSearch = Search::Halve;
    bool m_blnMakeBackup = true;
    bool m_blnDryRun = false;
    int m_intReconnects = 0;

    QList<std::pair<QString, QString>> m_colFiles;
    QList<FileResult> m_colResults;
    int m_intFile = 0;
    int m_intConnections = 0;
    int m_intReconnectsLeft = 0;
    QString m_strLastFailure;

    QString m_strServer;
    int m_intPort = 0;
    int m_intLogin = 0;
    int m_intSecurity = 0;
    QString m_strUserName;
    QString m_strPassword;

    // The search. Article numbers are whole numbers carried in doubles,
    // exact up to 2^53, which is far beyond what any server numbers.
    double m_dblDays = 0;
    double m_dblBottomID = 0;
    double m_dblTopID = 0;
    double m_dblBottomAge = 0;
    double m_dblTopAge = 0;
    // Whether the lowest and highest article had a readable date.
    bool m_blnBottomDated = false;
    bool m_blnTopDated = false;
    double m_dblArticleAge = 0;
    double m_dblArticleID = 0;
    double m_dblLow = 0;
    double m_dblHigh = 0;
    qint16 m_intStep = -1;
    // The fast search (step 6), and the posting time of each article it was
    // told about.
    std::unique_ptr<FastArticleSearch> m_objFast;
    QHash<qint64, qint64> m_colPosted;
    QHash<qint64, QString> m_colSubjects; // of the articles a HEAD was asked for
    // Replies of the current round still to come; header ranges are not
    // asked for again on a connection where one failed.
    int m_intRepliesDue = 0;
    bool m_blnRangeFailed = false;
    // Which run this is, and whether the client has reported a failure in it.
    quint32 m_lngRun = 0;
    bool m_blnSessionFailed = false;
};
