// Prints how long header extraction takes on replies of growing size, to
// show that the time grows with the length and no faster.
#include "nntp/modNNTP.h"

#include <QElapsedTimer>
#include <QString>
#include <cstdio>

static QString Reply(qsizetype size, const QString &filler)
{
    QString reply = QStringLiteral("221 1 <a@b>\r\n");
    while (reply.size() < size)
        reply += filler;
    return reply + QStringLiteral("Subject: s\r\nDate: Wed, 5 Jan 2005 12:34:56 +0100\r\n.\r\n");
}

int main()
{
    const struct {
        const char *name;
        QString filler;
    } shapes[] = {
        {"header lines", QStringLiteral("X-Trace: abcdefghijklmnopqrstuvwxyz 0123456789\r\n")},
        {"folded From", QStringLiteral(" (((((((((((((((((((((((((((((((((((((\r\n")},
        {"one long line", QStringLiteral("<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<")},
    };
    for (const auto &shape : shapes) {
        for (qsizetype mb : {1, 4, 16}) {
            QString reply = Reply(mb * 1024 * 1024, shape.filler);
            if (shape.filler.startsWith(u' '))
                reply.insert(13, QStringLiteral("From: x"));
            QElapsedTimer timer;
            timer.start();
            const int rounds = 5;
            qsizetype sink = 0;
            for (int i = 0; i < rounds; ++i)
                sink += modNNTP::ParseArticleHeader(reply, 1).PostDate.size();
            const double ms = double(timer.nsecsElapsed()) / 1e6 / rounds;
            std::printf("%-14s %3lld M chars: %8.2f ms, %7.1f M chars/s (%lld)\n", shape.name,
                        static_cast<long long>(mb), ms, double(mb) / (ms / 1000.0),
                        static_cast<long long>(sink));
        }
    }
    return 0;
}
