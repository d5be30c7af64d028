#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QString>

enum class LockState { None = 0, Open = 1, Closed = 2, Other = 3 };
enum class CommissionState { None = 0, Commissioned = 1, Uncommissioned = 2, Other = 3 };

// Exact, case-sensitive mapping of the service's state words.
LockState lockStateFromText(const QString &text);
CommissionState commissionStateFromText(const QString &text);

class Lock : public QObject, public QEnableSharedFromThis<Lock>
{
    Q_OBJECT
public:
    QString lockId;
    QString description;
    double longitude = 0.0;
    double latitude = 0.0;
    LockState state = LockState::None;
    CommissionState commissionState = CommissionState::None;
};

using LockPtr = QSharedPointer<Lock>;
