#pragma once

#include "exam_schedule.h"
#include "timetable.h"

#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QString>

// The parsed reply envelope. It owns (shares) its payload: a record or a paginated list.
class Result : public QObject
{
    Q_OBJECT
public:
    qint32 getCode() const { return code; }
    void setCode(qint32 value) { code = value; }
    const QString &getMessage() const { return message; }
    void setMessage(const QString &value) { message = value; }
    QObject *getData() const { return data.data(); }
    const QSharedPointer<QObject> &sharedData() const { return data; }
    void setData(QSharedPointer<QObject> value) { data = std::move(value); }

    // The payload as a given record or list type; null when absent or of another type.
    template<class T>
    QSharedPointer<T> dataAs() const
    {
        return qSharedPointerObjectCast<T>(data);
    }

    QString sfc;

private:
    qint32 code = 0;
    QString message;
    QSharedPointer<QObject> data;
};

class BasePaginationList : public QObject
{
    Q_OBJECT
public:
    qint32 count = 0;
    qint32 offset = 0;
    qint32 limit = 0;
};

// One page of records, in the order of the reply's "list" array.
template<class T>
class PaginationList : public BasePaginationList
{
public:
    using Record = T;
    QList<QSharedPointer<T>> items;
};

// Concrete list types, so that a Result's payload can be checked by type at run time.
class TimetableList final : public PaginationList<Timetable>
{
    Q_OBJECT
};

class ExamScheduleList final : public PaginationList<ExamSchedule>
{
    Q_OBJECT
};
