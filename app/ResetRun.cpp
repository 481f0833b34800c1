#include "app/ResetRun.h"

#include "app/ArticleSearch.h"
#include "cache/modFile.h"
#include "cache/modNBZ.h"
#include "common/modMain.h"
#include "nntp/CNNTP.h"
#include "ui/modSettings.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTime>
#include <algorithm>

namespace
{

QString ReadSetting(const QString &key, const QString &defaultValue)
{
    return modSettings::ReadProgramSetting(key, defaultValue);
}

// A stored number in [low, high], or the log row that refuses it.
std::optional<QString> StoredNumber(const QString &key, const QString &defaultValue, int low,
                                    int high, const QString &refusal, int &value)
{
    const QString text = ReadSetting(key, defaultValue);
    const std::optional<int> number = modSettings::WholeNumberIn(text, low, high);
    if (!number)
        return refusal.arg(text) + QStringLiteral(" Correct it in 'File\\Edit NNTP server'.");
    value = *number;
    return std::nullopt;
}

} // namespace

ResetRun::ResetRun(QObject *parent) : QObject(parent)
{
    NNTP = new CNNTP(this);
    connect(NNTP, &CNNTP::SessionProtocolMessage, this, &ResetRun::NNTP_SessionProtocolMessage);
    connect(NNTP, &CNNTP::OnConnected, this, &ResetRun::NNTP_OnConnected);
    connect(NNTP, &CNNTP::OnGroupSelected, this, &ResetRun::NNTP_OnGroupSelected);
    connect(NNTP, &CNNTP::OnHeaderComplete, this, &ResetRun::NNTP_OnHeaderComplete);
    connect(NNTP, &CNNTP::OnDateRange, this, &ResetRun::NNTP_OnDateRange);
}

ResetRun::~ResetRun()
{
    m_intStep = -1;
    // Nothing the client raises while it goes may reach a half-gone run.
    NNTP->disconnect(this);
    NNTP->Disconnect();
    delete NNTP;
    NNTP = nullptr;
}

QString ResetRun::NumberText(double value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    // Adding 0 turns -0 into 0.
    return locale.toString(value + 0.0, 'f', QLocale::FloatingPointShortest);
}

qint64 ResetRun::R(qint64 a, qint64 b)
{
    const qint64 sum = a + b;
    if (sum % 2 == 0)
        return sum / 2;
    const qint64 below = (sum - 1) / 2;
    return below % 2 == 0 ? below : below + 1;
}

QString ResetRun::TimeOfDayText()
{
    const QLocale locale;
    QString format = locale.timeFormat(QLocale::LongFormat);
    // Without a time-zone name.
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
    format.remove(zone);
    return locale.toString(QTime::currentTime(), format.trimmed());
}

std::optional<int> ResetRun::DayCount(const QString &text)
{
    return modSettings::WholeNumberIn(text, 0, 999);
}

bool ResetRun::RunUnderWay() const
{
    return m_intStep >= 1 && m_intStep <= 8;
}

QString ResetRun::LoadServerSettings()
{
    const Overrides &o = m_objOverrides;
    const QString storedServer = ReadSetting(QStringLiteral("NNTPServer"), QString());
    m_strServer = o.server ? *o.server : storedServer;
    // The stored login belongs to the stored server: another server named on
    // the command line must not be sent its password.
    const bool sameServer = m_strServer.compare(storedServer, Qt::CaseInsensitive) == 0;
    int number = 0;
    if (o.port) {
        m_intPort = *o.port;
    } else {
        if (auto refusal =
                StoredNumber(QStringLiteral("NNTPPort"), QStringLiteral("119"), 1, 32767,
                             QStringLiteral("The NNTP port \"%1\" is not a number from 1 "
                                            "to 32767."),
                             number))
            return *refusal;
        m_intPort = number;
    }
    if (o.user) {
        m_intLogin = 1;
    } else if (!sameServer) {
        m_intLogin = 0;
    } else {
        if (auto refusal =
                StoredNumber(QStringLiteral("Login"), QStringLiteral("0"), -32768, 32767,
                             QStringLiteral("The login setting \"%1\" is not a number."), number))
            return *refusal;
        m_intLogin = number;
    }
    if (o.security) {
        m_intSecurity = *o.security;
    } else {
        if (auto refusal = StoredNumber(QStringLiteral("Security"), QStringLiteral("0"), 0, 2,
                                        QStringLiteral("The security setting \"%1\" is not 0, 1 "
                                                       "or 2."),
                                        number))
            return *refusal;
        m_intSecurity = number;
    }
    if (m_intLogin > 0) {
        m_strUserName = o.user ? *o.user : ReadSetting(QStringLiteral("UserName"), QString());
        m_strPassword = o.password   ? *o.password
                        : sameServer ? ReadSetting(QStringLiteral("Password"), QString())
                                     : QString();
    } else {
        m_strUserName.clear();
        m_strPassword.clear();
    }
    return QString();
}

bool ResetRun::Start(const QList<std::pair<QString, QString>> &files, const QString &days)
{
    ++m_lngRun;
    m_blnSessionFailed = false;
    m_intStep = -1;
    m_colFiles = files;
    m_colResults.clear();
    m_intFile = 0;
    m_intConnections = 0;
    m_intReconnectsLeft = m_intReconnects;
    m_strLastFailure.clear();
    const std::optional<int> count = DayCount(days);
    if (!count) {
        emit LogRow(QStringLiteral("The day count \"%1\" is not a number.").arg(days), 3);
        return false;
    }
    m_dblDays = *count;
    const QString badSetting = LoadServerSettings();
    if (m_strServer.isEmpty()) {
        emit ServerMissing(QStringLiteral("NTTP server is not valid.\r\n"
                                          "You should select 'File\\Edit NNTP server'."));
        return false;
    }
    if (!badSetting.isEmpty()) {
        emit LogRow(badSetting, 3);
        return false;
    }
    if (files.isEmpty())
        return false;
    for (const auto &[file, group] : files) {
        FileResult result;
        result.file = file;
        result.group = group;
        m_colResults << result;
    }
    m_intStep = 1;
    m_blnRangeFailed = false;
    emit Connecting();
    ++m_intConnections;
    // Every run asks what the server offers: a server in transit mode
    // serves no group before MODE READER, whichever search is chosen.
    NNTP->SetAskCapabilities(true);
    NNTP->SetSecurity(m_intSecurity);
    NNTP->Connect(m_strServer, quint16(m_intPort), m_strUserName, m_strPassword);
    return true;
}

void ResetRun::Cancel()
{
    m_intStep = -1;
    RunNextStep();
}

// The run can no longer move on: leave the server and say how it ended.
void ResetRun::EndRun(End how)
{
    m_intStep = -1;
    NNTP->Disconnect();
    emit RunEnded(how);
}

void ResetRun::SelectCurrentGroup()
{
    m_intStep = 2;
    m_strLastFailure.clear();
    m_dblBottomAge = m_dblTopAge = m_dblArticleAge = 0;
    m_blnBottomDated = m_blnTopDated = false;
    m_intRepliesDue = 0;
    m_objFast.reset();
    emit FileStarted(m_intFile);
    NNTP->SelectGroup(m_colFiles.at(m_intFile).second);
}

void ResetRun::DownloadHeader(double id)
{
    ++m_colResults[m_intFile].requests;
    ++m_colResults[m_intFile].rounds;
    NNTP->DownloadHeader(id);
}

void ResetRun::RunNextStep()
{
    // After a failure of the session nothing may move the run on; it ends as
    // soon as the client is done reporting.
    if (m_blnSessionFailed && RunUnderWay())
        return;
    switch (m_intStep) {
    case 1:
        SelectCurrentGroup();
        break;
    case 2:
        if (m_enmSearch == Search::Fast) {
            m_intStep = 6;
            emit LogRow(QStringLiteral("Search for Article posted ") + NumberText(m_dblDays) +
                            QStringLiteral(" day(s) ago... Please wait."),
                        1);
            const qint64 target =
                modMain::PresentMoment().toSecsSinceEpoch() - qint64(m_dblDays) * 86400;
            m_objFast = std::make_unique<FastArticleSearch>(
                qint64(m_dblBottomID), std::max(qint64(m_dblBottomID), qint64(m_dblTopID)), target);
            m_colPosted.clear();
            m_colSubjects.clear();
            NextFastRound();
            break;
        }
        m_intStep = 3;
        DownloadHeader(m_dblBottomID);
        break;
    case 3:
        m_intStep = 4;
        DownloadHeader(m_dblTopID);
        break;
    case 4:
        m_intStep = 5;
        // A missing (or undated) end has no age; 0 would read as "today".
        emit LogRow(
            QStringLiteral("Age range: ") +
                (m_blnBottomDated ? NumberText(m_dblBottomAge) : QStringLiteral("unknown")) +
                QLatin1Char('-') +
                (m_blnTopDated ? NumberText(m_dblTopAge) : QStringLiteral("unknown")) +
                QStringLiteral(" day(s)"),
            1);
        emit LogRow(QStringLiteral("Search for Article posted ") + NumberText(m_dblDays) +
                        QStringLiteral(" day(s) ago... Please wait."),
                    1);
        m_dblLow = m_dblBottomID;
        m_dblHigh = m_dblTopID;
        m_dblArticleID = double(R(qint64(m_dblLow), qint64(m_dblHigh)));
        DownloadHeader(m_dblArticleID);
        break;
    case 5:
        // Article numbers grow with the time of posting: a larger number is
        // a newer article.
        if (m_dblHigh - m_dblLow <= 2) {
            m_intStep = 8;
        } else if (m_dblArticleAge > m_dblDays) {
            m_dblLow = m_dblArticleID;
            m_dblArticleID = double(R(qint64(m_dblArticleID), qint64(m_dblHigh)));
        } else if (m_dblArticleAge == m_dblDays) {
            m_intStep = 8;
        } else {
            m_dblHigh = m_dblArticleID;
            m_dblArticleID = double(R(qint64(m_dblArticleID), qint64(m_dblLow)));
        }
        // When the search has just ended this fetches the article found once
        // more, so that the labels show it.
        DownloadHeader(m_dblArticleID);
        break;
    case 6:
        NextFastRound();
        break;
    case 8:
        FinishFile();
        break;
    case -1:
        NNTP->Disconnect();
        break;
    default:
        break;
    }
}

// The next round trip of the fast search, all its commands sent at once, or
// its end: the article found needs no second request, its date is known.
void ResetRun::NextFastRound()
{
    if (m_blnSessionFailed && RunUnderWay())
        return;
    if (!m_objFast->Done()) {
        const bool ranges = !m_blnRangeFailed && !NNTP->HeaderRangeCommand().isEmpty();
        const FastArticleSearch::Round round = m_objFast->NextRound(16, ranges ? 2000 : 0);
        FileResult &result = m_colResults[m_intFile];
        if (round.IsRange() || !round.heads.empty()) {
            // Every reply of the round is in before the next is planned.
            m_intRepliesDue = int(round.heads.size()) + (round.IsRange() ? 1 : 0);
            result.requests += m_intRepliesDue;
            ++result.rounds;
            QList<double> ids;
            for (const qint64 number : round.heads)
                ids << double(number);
            if (!ids.isEmpty())
                m_dblArticleID = ids.last();
            // The range last: a server busy gathering its lines then holds
            // up no HEAD behind it.
            NNTP->DownloadHeaders(ids, round.rangeLow, round.rangeHigh);
            return;
        }
    }
    const qint64 found = m_objFast->Result();
    if (found == 0 || !m_colPosted.contains(found)) {
        const QString text = QStringLiteral("Group ") + m_colFiles.at(m_intFile).second +
                             QStringLiteral(" holds no articles");
        emit LogRow(text, 3);
        if (LastFile())
            NNTP->Disconnect();
        FileDone(Outcome::Failed, text, End::Stopped);
        return;
    }
    m_dblArticleID = double(found);
    const QString date = modMain::FormatDateText(m_colPosted.value(found));
    m_dblArticleAge = modMain::AgeInDays(date);
    // Replies to a round come in any order of age: the window shows the
    // article found, not the last one asked (its subject is unknown when
    // only a header range named it).
    emit ShowHeader(m_dblArticleID, m_colSubjects.value(found), date, m_dblArticleAge);
    m_intStep = 8;
    FinishFile();
}

// The article is found: leave the server after the last file, then the
// backup and the new file.
void ResetRun::FinishFile()
{
    // The run is over whatever follows; a late notification must not run
    // this step again.
    m_intStep = -1;
    emit LogRow(QStringLiteral("ID founded!"), 1);
    if (LastFile())
        NNTP->Disconnect();
    const QString path = m_colFiles.at(m_intFile).first;
    m_colResults[m_intFile].pointer = m_dblArticleID;
    m_colResults[m_intFile].age = m_dblArticleAge;
    if (m_blnDryRun) {
        FileDone(Outcome::DryRun, QString(), End::Finished);
        return;
    }
    // A program that holds the file open (the newsreader, on Windows) would
    // make the rewrite fail: leave the file and its backup as they are.
    if (StoppedByFileInUse(path))
        return;
    if (m_blnMakeBackup) {
        const qint16 backup = modFile::BackupFile(path);
        if (backup < 0) {
            const QString text = QStringLiteral("Operation aborted");
            emit LogRow(text, 2);
            FileDone(Outcome::Failed, text, End::BackupCancelled);
            return;
        }
        if (backup == 0) {
            if (StoppedByFileInUse(path))
                return;
            const QString text =
                QStringLiteral("The backup copy ") + modFile::FileNameOfPath(path) +
                QStringLiteral(".bak could not be made: the file was not changed.");
            emit LogRow(text, 3);
            FileDone(Outcome::Failed, text, End::Stopped);
            return;
        }
    }
    if (modNBZ::WriteGroupCacheFile(path, m_strServer, m_dblArticleID) >= 1) {
        emit LogRow(modFile::FileNameOfPath(path) +
                        QStringLiteral(" created! You can now make an update in Newsleecher."),
                    1);
        FileDone(Outcome::Rewritten, QString(), End::Finished);
    } else if (!StoppedByFileInUse(path)) {
        const QString text = QStringLiteral("File access error occured :(");
        emit LogRow(text, 3);
        FileDone(Outcome::Failed, text, End::Finished);
    }
}

// Ends the file with the one row that asks to close the program holding
// it, when one does; the next "Go" then finds it free.
bool ResetRun::StoppedByFileInUse(const QString &path)
{
    if (!modFile::InUseByAnotherProgram(path))
        return false;
    const QString text = QStringLiteral("The group cache file is in use by another program. "
                                        "Close the newsreader and press Go again.");
    emit LogRow(text, 3);
    FileDone(Outcome::Failed, text, End::Stopped);
    return true;
}

// One file is done with: on to the next group over the same connection, or
// the run ends as the last file did.
void ResetRun::FileDone(Outcome outcome, const QString &error, End how)
{
    FileResult &result = m_colResults[m_intFile];
    result.outcome = outcome;
    result.error = error;
    if (outcome == Outcome::Failed && error.isEmpty())
        result.error = m_strLastFailure;
    if (LastFile()) {
        m_intStep = -1;
        emit RunEnded(how);
        return;
    }
    ++m_intFile;
    m_blnSessionFailed = false;
    SelectCurrentGroup();
}

// Every file not yet done fails for the same reason.
void ResetRun::FailRemaining(const QString &error)
{
    for (int i = m_intFile; i < m_colResults.size(); ++i) {
        m_colResults[i].outcome = Outcome::Failed;
        m_colResults[i].error = error;
    }
    EndRun(End::Stopped);
}

// The connection is gone in the middle of a file: make it again once, when
// allowed, and start that file afresh; otherwise the run ends here.
void ResetRun::SessionLost()
{
    if (m_intReconnectsLeft <= 0) {
        FailRemaining(m_strLastFailure);
        return;
    }
    --m_intReconnectsLeft;
    ++m_lngRun;
    m_blnSessionFailed = false;
    m_blnRangeFailed = false;
    m_intStep = 1;
    ++m_intConnections;
    NNTP->Connect(m_strServer, quint16(m_intPort), m_strUserName, m_strPassword);
}

void ResetRun::NNTP_SessionProtocolMessage(const QString &strMessage, int MessageType)
{
    emit LogRow(strMessage, MessageType);
    if (MessageType != 3 || !RunUnderWay())
        return;
    m_strLastFailure = strMessage;
    if (m_blnSessionFailed)
        return;
    // The client is still inside its handler and may have more to say (and
    // a notification to raise, which may show that only the group failed):
    // decide once it has finished.
    m_blnSessionFailed = true;
    const quint32 run = m_lngRun;
    QMetaObject::invokeMethod(
        this,
        [this, run] {
            if (run == m_lngRun && RunUnderWay() && m_blnSessionFailed)
                SessionLost();
        },
        Qt::QueuedConnection);
}

void ResetRun::NNTP_OnConnected(int Status)
{
    if (Status == 0) {
        RunNextStep();
    } else if (m_intStep == 1) {
        // The client has logged why.
        FailRemaining(m_strLastFailure);
    }
}

void ResetRun::NNTP_OnGroupSelected(double BottomID, double TopID)
{
    if (BottomID + TopID > 0) {
        m_dblBottomID = BottomID;
        m_dblTopID = TopID;
        emit LogRow(QStringLiteral("Pointer range: ") + NumberText(BottomID) + QLatin1Char('-') +
                        NumberText(TopID),
                    1);
        RunNextStep();
    } else if (m_intStep == 2) {
        // An unknown group has been reported by the client already; a group
        // without articles has not. Either way the session itself is sound.
        QString error = m_strLastFailure;
        if (!m_blnSessionFailed) {
            error = QStringLiteral("Group ") + m_colFiles.at(m_intFile).second +
                    QStringLiteral(" holds no articles");
            emit LogRow(error, 3);
        }
        if (LastFile())
            NNTP->Disconnect();
        FileDone(Outcome::Failed, error, End::Stopped);
    }
}

// One reply of the round is in; the next round starts once all are.
void ResetRun::FastReplyIn()
{
    if (m_intRepliesDue > 0 && --m_intRepliesDue > 0)
        return;
    NextFastRound();
}

void ResetRun::NNTP_OnDateRange(qint64 low, qint64 high, const QList<QPair<qint64, QString>> &dates,
                                bool ok)
{
    if (m_intStep != 6 || !m_objFast)
        return;
    if (ok) {
        std::map<qint64, qint64> dated;
        for (const auto &[number, text] : dates) {
            qint64 posted = 0;
            if (!text.isEmpty() && modMain::ParseDateText(text, posted)) {
                dated[number] = posted;
                m_colPosted.insert(number, posted);
            }
        }
        m_objFast->ObserveRange(low, high, dated);
    } else {
        // The server's answer tells nothing: HEADs finish the search.
        m_blnRangeFailed = true;
    }
    FastReplyIn();
}

void ResetRun::NNTP_OnHeaderComplete(const QString &from, const QString &Subject,
                                     const QString &PostDate, const QString &MessageID,
                                     double ArticleID)
{
    Q_UNUSED(from);
    Q_UNUSED(MessageID);
    // An article without a readable date tells nothing about the age: like a
    // missing article, it keeps the previous one rather than counting as 0.
    if (!Subject.isEmpty() && !PostDate.isEmpty()) {
        m_dblArticleAge = modMain::AgeInDays(PostDate);
        // The number asked for: in the first two requests that is the lowest
        // or highest article, not the probe of the run before.
        emit ShowHeader(ArticleID, Subject, PostDate, m_dblArticleAge);
        if (m_intStep == 6) {
            qint64 posted = 0;
            if (modMain::ParseDateText(PostDate, posted))
                m_colPosted.insert(qint64(ArticleID), posted);
            m_colSubjects.insert(qint64(ArticleID), Subject);
        }
        if (m_intStep == 3) {
            m_dblBottomAge = m_dblArticleAge;
            m_blnBottomDated = true;
        } else if (m_intStep == 4) {
            m_dblTopAge = m_dblArticleAge;
            m_blnTopDated = true;
        }
    }
    if (m_intStep == 6 && m_objFast) {
        // Replies come in the order asked, each naming its own article.
        const auto posted = m_colPosted.constFind(qint64(ArticleID));
        m_objFast->Observe(qint64(ArticleID), posted == m_colPosted.constEnd()
                                                  ? std::nullopt
                                                  : std::optional<qint64>(*posted));
        FastReplyIn();
        return;
    }
    RunNextStep();
}
