#pragma once

#include <QDialog>
#include <QList>

namespace Ui {
class TimeTableGui;
}
class Timetable;

// Lets the operator pick one timetable entry; hands back the record itself.
// The records stay owned by the caller.
class TimeTableGui : public QDialog
{
    Q_OBJECT
public:
    TimeTableGui(QList<Timetable *> tables, QWidget *parent = nullptr);
    ~TimeTableGui() override;

    // An item's text: the subject with its date and time, which tell apart the
    // timetables of one subject.
    static QString describe(const Timetable *timetable);

signals:
    void TTnext(Timetable *TimeTable);

public slots:
    void nextbtn();
    void cancelbtn();

private:
    QList<Timetable *> tables;
    Ui::TimeTableGui *ui;
};
