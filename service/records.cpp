#include "exam_schedule.h"
#include "json_login.h"
#include "lock.h"
#include "seal.h"
#include "timetable.h"

LockState lockStateFromText(const QString &text)
{
    if (text.isEmpty())
        return LockState::None;
    if (text == QLatin1String("OPEN"))
        return LockState::Open;
    if (text == QLatin1String("CLOSED"))
        return LockState::Closed;
    return LockState::Other;
}

CommissionState commissionStateFromText(const QString &text)
{
    if (text.isEmpty())
        return CommissionState::None;
    if (text == QLatin1String("COMMISSIONED"))
        return CommissionState::Commissioned;
    if (text == QLatin1String("UNCOMMISSIONED"))
        return CommissionState::Uncommissioned;
    return CommissionState::Other;
}
