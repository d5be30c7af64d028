#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QString>

// One timetable entry at one exam centre. Numbers default to -1 when absent.
class ExamSchedule : public QObject, public QEnableSharedFromThis<ExamSchedule>
{
    Q_OBJECT
public:
    qint32 examSchedId = -1;
    QString pointId;
    QString tableId;
    QString state;
    QString subjectAbbreviation;
    QString subjectName;
    QString centerAbbreviation;
    QString centerName;
    qint32 start = -1;
    qint32 end = -1;
};

using ExamSchedulePtr = QSharedPointer<ExamSchedule>;
