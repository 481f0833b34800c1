#pragma once
// Records everything a CNNTP tells its owner, in order, as short texts:
//   "msg1:Connected", "msg3:Unknown Group alt.test", "connected:0",
//   "group:5000-6233", "head:from|Subject|PostDate|MessageID|ArticleID",
//   "groups:<count>", "range:low-high:ok|failed:n,n?,..." (? = no date)
// and lets a test react from inside a notification, as the main window does.
#include "nntp/CNNTP.h"

#include <QObject>
#include <QStringList>
#include <functional>

class NntpRecorder : public QObject
{
    Q_OBJECT

  public:
    explicit NntpRecorder(CNNTP *client)
    {
        connect(client, &CNNTP::SessionProtocolMessage, this,
                [this](const QString &text, qint32 kind) {
                    Events << QStringLiteral("msg%1:%2").arg(kind).arg(text);
                });
        connect(client, &CNNTP::OnConnected, this, [this](qint32 status) {
            Events << QStringLiteral("connected:%1").arg(status);
            if (OnConnected)
                OnConnected(status);
        });
        connect(client, &CNNTP::OnGroupSelected, this, [this](double bottom, double top) {
            Events << QStringLiteral("group:%1-%2").arg(bottom, 0, 'f', 0).arg(top, 0, 'f', 0);
            if (OnGroupSelected)
                OnGroupSelected(bottom, top);
        });
        connect(client, &CNNTP::OnHeaderComplete, this,
                [this](const QString &from, const QString &subject, const QString &date,
                       const QString &id, double article) {
                    Events << QStringLiteral("head:%1|%2|%3|%4|%5")
                                  .arg(from, subject, date, id)
                                  .arg(article, 0, 'f', 0);
                    if (OnHeaderComplete)
                        OnHeaderComplete(article);
                });
        connect(client, &CNNTP::OnDateRange, this,
                [this](qint64 low, qint64 high, const QList<QPair<qint64, QString>> &dates,
                       bool ok) {
                    QStringList numbers;
                    for (const auto &[number, date] : dates)
                        numbers << QString::number(number) + (date.isEmpty() ? "?" : "");
                    Events << QStringLiteral("range:%1-%2:%3:%4")
                                  .arg(low)
                                  .arg(high)
                                  .arg(ok ? "ok" : "failed", numbers.join(','));
                });
        connect(client, &CNNTP::OnDownloadGroups, this, [this](const QStringList &groups) {
            Events << QStringLiteral("groups:%1").arg(groups.size());
            Groups = groups;
        });
    }

    // Events whose text starts with the prefix.
    QStringList Of(const QString &prefix) const
    {
        QStringList out;
        for (const QString &e : Events)
            if (e.startsWith(prefix))
                out << e;
        return out;
    }
    // Failure messages (kind 3).
    QStringList Failures() const { return Of(QStringLiteral("msg3:")); }

    QStringList Events;
    QStringList Groups;
    std::function<void(qint32)> OnConnected;
    std::function<void(double, double)> OnGroupSelected;
    std::function<void(double)> OnHeaderComplete;
};
