#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QString>

// The seal the service recorded.
class Seal : public QObject, public QEnableSharedFromThis<Seal>
{
    Q_OBJECT
public:
    QString tableId;
    QString pointId;
    QString apId;
    qint32 examSchedId = 0;
};

using SealPtr = QSharedPointer<Seal>;
