#include "timetablegui.h"

#include "timetable.h"
#include "ui_timetablegui.h"

#include <cstdio>

TimeTableGui::TimeTableGui(QList<Timetable *> tables, QWidget *parent)
    : QDialog(parent)
    , tables(std::move(tables))
    , ui(new Ui::TimeTableGui)
{
    ui->setupUi(this);
    QStringList subjects;
    subjects.reserve(this->tables.size());
    for (const Timetable *t : qAsConst(this->tables))
        subjects << (t ? t->subject : QString());
    ui->cbxTimeTables->addItems(subjects);
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
