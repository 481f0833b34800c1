#include "timer/CTimeout.h"

#include "timer/MTimeOutSupport.h"

#include <QSet>

namespace {
// The objects alive now, so that a tick can never be turned into an object
// that has ended. UI thread only, like everything here.
QSet<quintptr> &LivingObjects()
{
    static QSet<quintptr> objects;
    return objects;
}

quintptr OwnId(const CTimeout *object) { return reinterpret_cast<quintptr>(object); }
} // namespace

CTimeout::CTimeout(QObject *parent)
    : QObject(parent)
{
    MTimeOutSupport::CreateTimer();
    LivingObjects().insert(OwnId(this));
}

CTimeout::~CTimeout()
{
    LivingObjects().remove(OwnId(this));
    MTimeOutSupport::UnregisterTimer(m_lngTimerID);
    MTimeOutSupport::DestroyTimerWindow();
}

void CTimeout::StartTimer()
{
    if (m_lngTimeOutValue < 1)
        return;
    if (m_lngTimerID == 0)
        m_lngTimerID = MTimeOutSupport::RegisterTimer(m_lngTimeOutValue, OwnId(this));
    else
        MTimeOutSupport::RestartTimer(m_lngTimerID, m_lngTimeOutValue);
}

void CTimeout::StopTimer()
{
    if (m_lngTimerID != 0)
        MTimeOutSupport::UnregisterTimer(m_lngTimerID);
}

void CTimeout::Reset()
{
    MTimeOutSupport::RestartTimer(m_lngTimerID, m_lngTimeOutValue);
}

CTimeout *CTimeout::FromTimerId(quintptr id)
{
    if (id == 0 || !LivingObjects().contains(id))
        return nullptr;
    return reinterpret_cast<CTimeout *>(id);
}
