#include "timetablegui.h"

#include "fit_text.h"
#include "timetable.h"
#include "ui_timetablegui.h"

#include <QDateTime>
#include <QLocale>

#include <cstdio>

// "Maths — Thu 1 Jan 2026, 08:00–11:00" (local time; the end's date when it differs).
QString TimeTableGui::describe(const Timetable *t)
{
    if (!t)
        return QString();
    const QLocale locale;
    const QDateTime start = QDateTime::fromSecsSinceEpoch(t->startTime).toLocalTime();
    const QDateTime end = QDateTime::fromSecsSinceEpoch(t->endTime).toLocalTime();
    const QString day = QStringLiteral("ddd d MMM yyyy");
    const QString time = QStringLiteral("HH:mm");
    QString endText = locale.toString(end, time);
    if (end.date() != start.date())
        endText = locale.toString(end, day) + QStringLiteral(", ") + endText;
    return t->subject + QStringLiteral(" \u2014 ") + locale.toString(start, day)
            + QStringLiteral(", ") + locale.toString(start, time) + QChar(0x2013) + endText;
}

TimeTableGui::TimeTableGui(QList<Timetable *> tables, QWidget *parent)
    : QDialog(parent)
    , tables(std::move(tables))
    , ui(new Ui::TimeTableGui)
{
    ui->setupUi(this);
    QStringList items;
    items.reserve(this->tables.size());
    for (const Timetable *t : qAsConst(this->tables))
        items << describe(t);
    ui->cbxTimeTables->addItems(items);
    for (const QString &item : qAsConst(items))
        widenForText(ui->cbxTimeTables, item);
    connect(ui->btnTTNext, &QPushButton::clicked, this, &TimeTableGui::nextbtn);
    connect(ui->btnTTCancel, &QPushButton::clicked, this, &TimeTableGui::cancelbtn);
}

TimeTableGui::~TimeTableGui()
{
    delete ui;
}

void TimeTableGui::nextbtn()
{
    // Item i stands for list element i; with no item there is nothing to hand on.
    const int i = ui->cbxTimeTables->currentIndex();
    if (i < 0 || i >= tables.size() || !tables.at(i))
        return;
    Timetable *chosen = tables.at(i);
    std::printf("ITEM = %s\n", chosen->subject.toLocal8Bit().constData());
    std::fflush(stdout);
    emit TTnext(chosen);
    close();
}

void TimeTableGui::cancelbtn()
{
    close();
}
