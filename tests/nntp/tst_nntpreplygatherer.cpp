// Reply gathering on its own: bounds and dot-stuffing, whatever the reads.
#include "nntp/NntpReplyGatherer.h"

#include <QTest>

namespace
{

using Scan = NntpReplyGatherer::Scan;

// Feeds the bytes in reads of `piece` bytes (all at once for 0) and lists
// what comes out: "code:reply" for each reply, "too large" at the end when
// the gatherer gave up.
QStringList Gather(const QByteArray &bytes, int piece, qsizetype maxReply = 64,
                   qsizetype maxList = 128)
{
    NntpReplyGatherer g(maxReply, maxList);
    QStringList out;
    const qsizetype step = piece > 0 ? piece : std::max<qsizetype>(bytes.size(), 1);
    for (qsizetype at = 0; at < bytes.size(); at += step) {
        g.Append(QByteArrayView(bytes).sliced(at, std::min(step, bytes.size() - at)));
        for (;;) {
            int code = 0;
            QString reply;
            const Scan scan = g.Next(code, reply);
            if (scan == Scan::TooLarge)
                return out << QStringLiteral("too large");
            if (scan == Scan::Incomplete)
                break;
            if (scan == Scan::Complete)
                out << QString::number(code) + u':' + reply;
        }
    }
    return out;
}

} // namespace

class tst_NntpReplyGatherer : public QObject
{
    Q_OBJECT

  private slots:
    void boundsHoldInAnySplit_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("replies");
        const QByteArray line64 = "200 " + QByteArray(58, 'x') + "\r\n";
        QTest::newRow("status line at the bound") << line64 << QStringList{"200:" + line64};
        // Used to pass when it came in one read and fail when split.
        QTest::newRow("status line over the bound")
            << "200 x" + line64 << QStringList{"too large"};
        QTest::newRow("reply before a line over the bound")
            << "423 no\r\n200 x" + line64 << QStringList{"423:423 no\r\n", "too large"};
        const QByteArray head = "221 1 <a@b>\r\n" + QByteArray(46, 'h') + "\r\n.\r\n";
        QTest::newRow("header at the bound") << head << QStringList{"221:" + head};
        QTest::newRow("header over the bound")
            << "221 12 <a@b>\r\n" + QByteArray(46, 'h') + "\r\n.\r\n" << QStringList{"too large"};
        const QByteArray list = "215 x\r\n" + QByteArray(100, 'l') + "\r\n.\r\n";
        QTest::newRow("list over the reply bound, within its own")
            << list << QStringList{"215:" + list};
    }
    void boundsHoldInAnySplit()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, replies);
        for (int piece : {0, 1, 2, 3, 7})
            QCOMPARE(Gather(bytes, piece), replies);
    }

    void blocksAndDotStuffing()
    {
        const QByteArray bytes = "215\r\n.\r\n"              // empty block
                                 "abc\r\n20\r\n"             // no reply code: dropped
                                 "221 1 <a@b>\r\n..\r\n...x\r\n.y\r\n.\r\n"
                                 "211 3 5 7 alt.test\r\n.\r\n" // one line: the "." is no reply
                                 "423 no";                     // not yet whole
        const QStringList replies{"215:215\r\n.\r\n", "221:221 1 <a@b>\r\n.\r\n..x\r\ny\r\n.\r\n",
                                  "211:211 3 5 7 alt.test\r\n"};
        for (int piece : {0, 1, 4})
            QCOMPARE(Gather(bytes, piece, 1024, 1024), replies);
    }
};

QTEST_GUILESS_MAIN(tst_NntpReplyGatherer)
#include "tst_nntpreplygatherer.moc"
