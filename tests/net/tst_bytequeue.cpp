// The socket's byte queues against a plain QByteArray doing the same, over
// a long random mix of appends, reads into reserved room, takes and peeks:
// the offset bookkeeping and its compaction must never lose, repeat or
// reorder a byte.
#include "net/ByteQueue.h"

#include <QRandomGenerator>
#include <QTest>
#include <cstring>

class tst_ByteQueue : public QObject
{
    Q_OBJECT

  private slots:
    void matchesPlainArray()
    {
        QRandomGenerator rng(21);
        ByteQueue queue;
        QByteArray model;
        char next = 0;
        auto fresh = [&](int n) {
            QByteArray b(n, Qt::Uninitialized);
            for (char &c : b)
                c = next++;
            return b;
        };
        for (int step = 0; step < 20000; ++step) {
            const int n = rng.bounded(0, 40);
            switch (rng.bounded(6)) {
            case 0: {
                const QByteArray b = fresh(n);
                queue.Append(b);
                model += b;
                break;
            }
            case 1: { // a read that fills part of its room, or fails (-1)
                const QByteArray b = fresh(n);
                char *room = queue.Reserve(n + 8);
                std::memcpy(room, b.constData(), size_t(n));
                queue.Commit(n == 0 ? -1 : n);
                model += b;
                break;
            }
            case 2:
            case 3: {
                const QByteArray want = n >= 1 && n <= model.size() ? model.left(n) : model;
                QCOMPARE(queue.Take(n), want);
                model.remove(0, want.size());
                break;
            }
            case 4:
                QCOMPARE(queue.Peek(n), n >= 1 && n <= model.size() ? model.left(n) : model);
                break;
            default:
                queue.Consume(std::min<qsizetype>(n, model.size()));
                model.remove(0, std::min<qsizetype>(n, model.size()));
            }
            QCOMPARE(queue.Size(), model.size());
            QCOMPARE(QByteArray(queue.Data(), queue.Size()), model);
        }
        queue.Assign("new");
        QCOMPARE(queue.Take(0), QByteArray("new"));
        QVERIFY(queue.IsEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_ByteQueue)
#include "tst_bytequeue.moc"
