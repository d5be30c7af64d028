#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>

namespace Ui {
class ExamCentreGui;
}
class ExamSchedule;
class Timetable;
class QStringListModel;

// Shows the chosen timetable and lets the operator pick the exam centre, with a
// filter over centre names and abbreviations. The records stay owned by the caller.
class ExamCentreGui : public QDialog
{
    Q_OBJECT
public:
    ExamCentreGui(QList<ExamSchedule *> centers, Timetable *timetable, QWidget *parent = nullptr);
    ~ExamCentreGui() override;

    // Names of the schedules whose name or abbreviation contains `text`, ignoring
    // case, in list order.
    QStringList matching(const QString &text) const;

signals:
    void CenterNext(ExamSchedule *center);
    void CenterBack();

public slots:
    void nextbtn();
    void backbtn();
    void cancelbtn();
    void filter(const QString &text);

protected:
    // Tells the operator that no centre is chosen; waits until dismissed.
    virtual void warnNoCentre();

private:
    void showNames(const QStringList &shown);

    QList<ExamSchedule *> centers;
    // Upper-cased once, so a keystroke only compares.
    QStringList upperNames;
    QStringList upperAbbreviations;
    QStringList names;
    QStringListModel *model;
    Ui::ExamCentreGui *ui;
};
