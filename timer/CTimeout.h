#pragma once
// A periodic timeout: once started, TimeOut comes every TimeOutValue
// milliseconds until StopTimer or the object's end. Lives on the UI thread;
// ticks arrive through its event loop.
#include <QObject>

class CTimeout : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int TimeOutValue READ TimeOutValue WRITE SetTimeOutValue)

public:
    // Raises 17001 (RaisedError) when the timer window cannot be made.
    explicit CTimeout(QObject *parent = nullptr);
    ~CTimeout() override;

    // The period in milliseconds. A change takes effect at the next
    // StartTimer or Reset, not on a running timer.
    int TimeOutValue() const { return m_lngTimeOutValue; }
    void SetTimeOutValue(int milliseconds) { m_lngTimeOutValue = milliseconds; }

    // Starts the timer, or restarts its countdown when it already has one.
    // Does nothing while TimeOutValue is below 1. The first start raises
    // 17002 when no timer can be made; the object then stays unstarted.
    void StartTimer();
    // Stops the ticks; a later StartTimer or Reset brings them back.
    void StopTimer();
    // Restarts the countdown from zero, whether running or stopped. Does
    // nothing on an object that was never started.
    void Reset();

    // 0 until the first successful StartTimer, then the id of this object's
    // timer for the rest of its life.
    quintptr TimerId() const { return m_lngTimerID; }

    // The living object registered under `id`, nullptr when there is none.
    static CTimeout *FromTimerId(quintptr id);

signals:
    void TimeOut();

private:
    int m_lngTimeOutValue = 0;
    quintptr m_lngTimerID = 0;
};
