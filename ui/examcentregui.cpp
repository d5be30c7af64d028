#include "examcentregui.h"

#include "exam_schedule.h"
#include "timetable.h"
#include "ui_examcentregui.h"

#include <QDateTime>
#include <QMessageBox>
#include <QStringListModel>

namespace {
QString localTimeText(qint32 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs).toLocalTime().toString(Qt::TextDate);
}
} // namespace

ExamCentreGui::ExamCentreGui(QList<ExamSchedule *> centers, Timetable *timetable, QWidget *parent)
    : QDialog(parent)
    , centers(std::move(centers))
    , ui(new Ui::ExamCentreGui)
{
    ui->setupUi(this);
    model = new QStringListModel(ui->cbxCenter);
    ui->cbxCenter->setModel(model);

    upperNames.reserve(this->centers.size());
    upperAbbreviations.reserve(this->centers.size());
    names.reserve(this->centers.size());
    for (const ExamSchedule *c : qAsConst(this->centers)) {
        names << (c ? c->centerName : QString());
        upperNames << names.last().toUpper();
        upperAbbreviations << (c ? c->centerAbbreviation.toUpper() : QString());
    }
    showNames(names);

    if (timetable) {
        ui->lblSub->setText(timetable->subject);
        ui->lblStart->setText(localTimeText(timetable->startTime));
        ui->lblEnd->setText(localTimeText(timetable->endTime));
    } else {
        ui->lblSub->clear();
        ui->lblStart->clear();
        ui->lblEnd->clear();
    }

    connect(ui->btnCenterNext, &QPushButton::clicked, this, &ExamCentreGui::nextbtn);
    connect(ui->btnCenterBack, &QPushButton::clicked, this, &ExamCentreGui::backbtn);
    connect(ui->btnCenterCancel, &QPushButton::clicked, this, &ExamCentreGui::cancelbtn);
    connect(ui->tbxFilter, &QLineEdit::textChanged, this, &ExamCentreGui::filter);
}

ExamCentreGui::~ExamCentreGui()
{
    delete ui;
}

QStringList ExamCentreGui::matching(const QString &text) const
{
    const QString needle = text.toUpper();
    if (needle.isEmpty())
        return names;
    QStringList shown;
    for (int i = 0; i < names.size(); ++i) {
        if (upperNames.at(i).contains(needle) || upperAbbreviations.at(i).contains(needle))
            shown << names.at(i);
    }
    return shown;
}

void ExamCentreGui::filter(const QString &text)
{
    showNames(matching(text));
}

void ExamCentreGui::showNames(const QStringList &shown)
{
    // One model reset instead of one insertion per item keeps a keystroke cheap
    // with thousands of centres; a keystroke that changes no match resets nothing.
    if (shown != model->stringList())
        model->setStringList(shown);
    ui->cbxCenter->setCurrentIndex(shown.isEmpty() ? -1 : 0);
}

void ExamCentreGui::nextbtn()
{
    const QString text = ui->cbxCenter->currentText();
    if (text.isEmpty()) {
        warnNoCentre();
        return;
    }
    // By name: of two centres with the same name the first is taken.
    const int i = names.indexOf(text);
    if (i < 0)
        return;
    emit CenterNext(centers.at(i));
    close();
}

void ExamCentreGui::backbtn()
{
    emit CenterBack();
    close();
}

void ExamCentreGui::cancelbtn()
{
    close();
}

void ExamCentreGui::warnNoCentre()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"),
                    QStringLiteral("You must choose a school."), QMessageBox::Ok);
    box.exec();
}
