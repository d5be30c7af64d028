#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>
#include <QVector>

namespace Ui {
class ExamCentreGui;
}
class ExamSchedule;
class Timetable;
class CentreListModel;

// Shows the chosen timetable and lets the operator pick the exam centre, with a
// filter over centre names and abbreviations. The records stay owned by the caller.
class ExamCentreGui : public QDialog
{
    Q_OBJECT
public:
    ExamCentreGui(QList<ExamSchedule *> centers, Timetable *timetable, QWidget *parent = nullptr);
    ~ExamCentreGui() override;

    QString filterText() const;
    // The list as the operator left it: filtered by `filter`, with `centre` (one
    // of the list's records) chosen, or no centre chosen when the filter hides it.
    void showChosen(const QString &filter, const ExamSchedule *centre);

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
    // Positions of the centres whose name or abbreviation contains `needle`
    // (upper case), looked for among `candidates` only.
    QVector<int> matches(const QString &needle, const QVector<int> &candidates) const;

    QList<ExamSchedule *> centers;
    QStringList names;
    // Every centre's upper-cased name and abbreviation, each followed by a line
    // break, in one string: a keystroke searches it without allocating, and the
    // first filter searches it in one go. Centre i starts at lineStarts[i].
    QString haystack;
    QVector<int> lineStarts;
    // Filters typed so far, each narrowing the one before, with their matches: a
    // longer filter only searches the last matches, a shorter one finds its own
    // again. The first is the empty filter with every centre.
    struct Step
    {
        QString needle;
        QVector<int> shown;
    };
    QVector<Step> steps;
    CentreListModel *model;
    Ui::ExamCentreGui *ui;
};
