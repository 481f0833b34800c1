#include "common/Error.h"
#include "timer/CTimeout.h"
#include "timer/MTimeOutSupport.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>
#include <functional>
#include <memory>
#include <optional>

namespace {
// Short periods, one-sided or generous bounds: a loaded machine may delay a
// tick, never bring it early.
class Ticks : public QObject
{
public:
    explicit Ticks(CTimeout &timeout, int period = 0) : timeout(timeout)
    {
        clock.start();
        connect(&timeout, &CTimeout::TimeOut, this, [this] { at.append(clock.elapsed()); });
        if (period) {
            timeout.SetTimeOutValue(period);
            timeout.StartTimer();
        }
    }
    bool WaitFor(qsizetype count) { return QTest::qWaitFor([&] { return at.size() >= count; }, 5000); }
    // Runs `step`, then gives the milliseconds from it to the next tick.
    qint64 NextTickAfter(const std::function<void()> &step)
    {
        const qsizetype before = at.size();
        const qint64 since = clock.elapsed();
        step();
        return WaitFor(before + 1) ? at[before] - since : -1;
    }
    // Waits `ms` and tells whether no tick came meanwhile.
    bool QuietFor(int ms)
    {
        const qsizetype before = at.size();
        QTest::qWait(ms);
        return at.size() == before;
    }

    CTimeout &timeout;
    QElapsedTimer clock;
    QList<qint64> at;
};

std::optional<ErrorTriple> RaisedOffThread(const std::function<void()> &work)
{
    std::optional<ErrorTriple> raised;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            work();
        } catch (const RaisedError &e) {
            raised = e.Triple();
        }
    }));
    thread->start();
    thread->wait();
    return raised;
}
} // namespace

class tst_CTimeout : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QVERIFY(!MTimeOutSupport::TimerWindow()); }

    void idleObjectsNeverTick()
    {
        CTimeout zero, negative, neverStarted;
        Ticks a(zero), b(negative, -5), c(neverStarted);
        zero.StartTimer();
        neverStarted.SetTimeOutValue(10);
        neverStarted.Reset();
        // Stray ticks name no living object.
        for (quintptr id : {quintptr(0), quintptr(0x1234)})
            MTimeOutSupport::TimerProc(nullptr, 0, id, 0);
        QVERIFY(a.QuietFor(80) && b.at.isEmpty() && c.at.isEmpty());
        QCOMPARE(zero.TimerId() + negative.TimerId() + neverStarted.TimerId(), quintptr(0));
    }

    void periodicUntilStoppedThenResumes_data()
    {
        QTest::addColumn<bool>("viaReset");
        QTest::newRow("StartTimer") << false;
        QTest::newRow("Reset") << true;
    }
    void periodicUntilStoppedThenResumes()
    {
        QFETCH(bool, viaReset);
        CTimeout timeout;
        Ticks ticks(timeout);
        timeout.SetTimeOutValue(20);
        const qint64 started = ticks.clock.elapsed();
        timeout.StartTimer();
        QVERIFY(ticks.WaitFor(4));
        // A late tick may be followed by one on time, but tick n can never
        // come before n periods have passed.
        for (qsizetype i = 0; i < ticks.at.size(); ++i)
            QVERIFY2(ticks.at[i] - started >= (i + 1) * 20 - 4, "tick came early");
        const quintptr id = timeout.TimerId();
        QVERIFY(id != 0);

        timeout.StopTimer();
        QVERIFY(ticks.QuietFor(100));
        QVERIFY(!MTimeOutSupport::HasTimer(id));
        QVERIFY(ticks.NextTickAfter([&] { viaReset ? timeout.Reset() : timeout.StartTimer(); }) >= 16);
        QVERIFY(ticks.WaitFor(ticks.at.size() + 2));
        QCOMPARE(timeout.TimerId(), id);
    }

    void countdownRestartsOnlyWhenAsked()
    {
        CTimeout timeout;
        Ticks ticks(timeout, 100);
        QTest::qWait(70);
        // Without the restart the tick would come about 30 ms later.
        QVERIFY(ticks.NextTickAfter([&] { timeout.Reset(); }) >= 80);

        // A new value leaves the running timer alone until the next start.
        QVERIFY(ticks.NextTickAfter([&] {
            timeout.StartTimer();
            timeout.SetTimeOutValue(10);
        }) >= 80);
        timeout.StartTimer();
        QVERIFY(ticks.WaitFor(ticks.at.size() + 3));

        // Nothing counts down from a period below 1: Reset leaves no timer.
        timeout.SetTimeOutValue(0);
        timeout.Reset();
        QVERIFY(ticks.QuietFor(60));
    }

    void windowStaysUntilTheLastObjectEnds()
    {
        auto survivor = std::make_unique<CTimeout>();
        QObject *window = MTimeOutSupport::TimerWindow();
        QCOMPARE(window->objectName(), QStringLiteral("TIMER_WINDOW"));
        Ticks ticks(*survivor, 15);
        {
            CTimeout other;
            QCOMPARE(MTimeOutSupport::TimerWindow(), window);
            Ticks otherTicks(other, 15);
            QVERIFY(otherTicks.WaitFor(2) && ticks.WaitFor(2));
            other.StopTimer();
            QVERIFY(ticks.WaitFor(ticks.at.size() + 2));
        }
        QCOMPARE(MTimeOutSupport::TimerWindow(), window);
        QVERIFY(ticks.WaitFor(ticks.at.size() + 2));
        survivor.reset();
    }

    void failuresRaiseAndLeaveNothingBehind()
    {
        auto raised = RaisedOffThread([] { CTimeout offThread; });
        QVERIFY(raised);
        QCOMPARE(raised->Number, 17001L);
        QCOMPARE(raised->Source, QStringLiteral("MTimeOutSupport.CreateTimer"));
        QCOMPARE(raised->Description, QStringLiteral("Cannot create the timer window."));
        QVERIFY(!MTimeOutSupport::TimerWindow());

        // The failed object holds no share of the window, so this one's end
        // takes it away (checked by cleanup()).
        CTimeout timeout;
        Ticks ticks(timeout);
        timeout.SetTimeOutValue(15);
        raised = RaisedOffThread([&] { timeout.StartTimer(); });
        QVERIFY(raised);
        QCOMPARE(raised->Number, 17002L);
        QCOMPARE(raised->Source, QStringLiteral("MTimeOutSupport.RegisterTimer"));
        QCOMPARE(raised->Description, QStringLiteral("Cannot create the timer"));
        QCOMPARE(timeout.TimerId(), quintptr(0));
        QVERIFY(!MTimeOutSupport::HasTimer(reinterpret_cast<quintptr>(&timeout)));
        QVERIFY(ticks.QuietFor(60));
        timeout.StartTimer();
        QVERIFY(ticks.WaitFor(2));
    }

    void listenerMayEndTheLastObject()
    {
        auto *timeout = new CTimeout;
        int seen = 0;
        connect(timeout, &CTimeout::TimeOut, this, [&] {
            ++seen;
            delete timeout;
        });
        timeout->SetTimeOutValue(10);
        timeout->StartTimer();
        QVERIFY(QTest::qWaitFor([&] { return seen > 0; }, 5000));
        QTest::qWait(30);
        QCOMPARE(seen, 1);
    }
};

QTEST_GUILESS_MAIN(tst_CTimeout)
#include "tst_CTimeout.moc"
