#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QString>

// One scheduled examination of a subject. Times are seconds since the epoch (UTC).
// Records are shared: the client's lists hold QSharedPointer, and a holder that
// keeps a record beyond the next fetch takes its own reference via sharedFromThis().
class Timetable : public QObject, public QEnableSharedFromThis<Timetable>
{
    Q_OBJECT
public:
    QString tableId;
    qint32 startTime = 0;
    qint32 endTime = 0;
    QString subject;
    QString abbreviation;
};

using TimetablePtr = QSharedPointer<Timetable>;
