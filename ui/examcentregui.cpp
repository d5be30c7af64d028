#include "examcentregui.h"

#include "exam_schedule.h"
#include "fit_text.h"
#include "message_box.h"
#include "timetable.h"
#include "ui_examcentregui.h"

#include <QAbstractListModel>
#include <QDateTime>
#include <QListView>
#include <QStringMatcher>

namespace {

// Steps kept for going back by deletion; older ones are searched again.
constexpr int MaxSteps = 8;

const QChar Separator(QLatin1Char('\n'));

QString localTimeText(qint32 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs).toLocalTime().toString(Qt::TextDate);
}

QVector<int> allPositions(int n)
{
    QVector<int> all(n);
    for (int i = 0; i < n; ++i)
        all[i] = i;
    return all;
}

} // namespace

// The shown centres as positions in the full list, named by their centre names.
// Replacing them is one model reset, whatever their number.
class CentreListModel : public QAbstractListModel
{
public:
    CentreListModel(QStringList names, QObject *parent)
        : QAbstractListModel(parent)
        , names(std::move(names))
    {
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : rows.size();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= rows.size()
            || (role != Qt::DisplayRole && role != Qt::EditRole))
            return QVariant();
        return names.at(rows.at(index.row()));
    }

    void show(const QVector<int> &shown)
    {
        if (shown == rows)
            return;
        beginResetModel();
        rows = shown;
        endResetModel();
    }

private:
    QStringList names;
    QVector<int> rows;
};

ExamCentreGui::ExamCentreGui(QList<ExamSchedule *> centers, Timetable *timetable, QWidget *parent)
    : QDialog(parent)
    , centers(std::move(centers))
    , ui(new Ui::ExamCentreGui)
{
    ui->setupUi(this);
    names.reserve(this->centers.size());
    lineStarts.reserve(this->centers.size() + 1);
    for (const ExamSchedule *c : qAsConst(this->centers)) {
        names << (c ? c->centerName : QString());
        lineStarts << haystack.size();
        haystack += names.last().toUpper() + Separator;
        if (c)
            haystack += c->centerAbbreviation.toUpper();
        haystack += Separator;
    }
    lineStarts << haystack.size();

    model = new CentreListModel(names, ui->cbxCenter);
    ui->cbxCenter->setModel(model);
    // All rows are one line high: the list lays out thousands of them at once.
    if (auto *view = qobject_cast<QListView *>(ui->cbxCenter->view()))
        view->setUniformItemSizes(true);
    steps.append({QString(), allPositions(names.size())});
    model->show(steps.last().shown);
    ui->cbxCenter->setCurrentIndex(names.isEmpty() ? -1 : 0);

    if (timetable) {
        ui->lblSub->setText(timetable->subject);
        ui->lblStart->setText(localTimeText(timetable->startTime));
        ui->lblEnd->setText(localTimeText(timetable->endTime));
    } else {
        ui->lblSub->clear();
        ui->lblStart->clear();
        ui->lblEnd->clear();
    }
    ui->tbxFilter->setFocus();

    connect(ui->btnCenterNext, &QPushButton::clicked, this, &ExamCentreGui::nextbtn);
    connect(ui->btnCenterBack, &QPushButton::clicked, this, &ExamCentreGui::backbtn);
    connect(ui->btnCenterCancel, &QPushButton::clicked, this, &ExamCentreGui::cancelbtn);
    connect(ui->tbxFilter, &QLineEdit::textChanged, this, &ExamCentreGui::filter);
    // The chosen centre shows whole; measuring every name up front would cost
    // too much with a long list.
    widenForText(ui->cbxCenter, ui->cbxCenter->currentText());
    connect(ui->cbxCenter, &QComboBox::currentTextChanged, this,
            [this](const QString &text) { widenForText(ui->cbxCenter, text); });
}

ExamCentreGui::~ExamCentreGui()
{
    delete ui;
}

QVector<int> ExamCentreGui::matches(const QString &needle, const QVector<int> &candidates) const
{
    QVector<int> found;
    if (needle.contains(Separator)) {
        // Could match across a name and its abbreviation: compare them one by one.
        for (int i : candidates) {
            const ExamSchedule *c = centers.at(i);
            if (names.at(i).toUpper().contains(needle)
                || (c && c->centerAbbreviation.toUpper().contains(needle)))
                found.append(i);
        }
        return found;
    }
    const QStringMatcher matcher(needle);
    // Position of the needle in [from, to) of the haystack, or -1.
    auto find = [&](int from, int to) {
        const QStringView part = QStringView(haystack).mid(from, to - from);
        const int at = needle.size() == 1 ? int(part.indexOf(needle.at(0)))
                                          : matcher.indexIn(part.data(), int(part.size()));
        return at < 0 ? -1 : from + at;
    };
    if (candidates.size() == centers.size()) {
        // Every centre: one pass over the whole string, going on from the next
        // centre after each match.
        int i = 0;
        for (int at = find(0, haystack.size()); at >= 0;
             at = find(lineStarts.at(i), haystack.size())) {
            while (lineStarts.at(i + 1) <= at)
                ++i;
            found.append(i++);
        }
        return found;
    }
    for (int i : candidates) {
        if (find(lineStarts.at(i), lineStarts.at(i + 1)) >= 0)
            found.append(i);
    }
    return found;
}

void ExamCentreGui::filter(const QString &text)
{
    const QString needle = text.toUpper();
    // Every match of a filter is a match of any part of it: keep the steps the
    // new filter contains. The first step, the empty filter, always stays.
    while (steps.size() > 1 && !needle.contains(steps.last().needle))
        steps.removeLast();
    if (steps.last().needle != needle) {
        steps.append({needle, matches(needle, steps.last().shown)});
        if (steps.size() > MaxSteps)
            steps.remove(1);
    }
    model->show(steps.last().shown);
    ui->cbxCenter->setCurrentIndex(steps.last().shown.isEmpty() ? -1 : 0);
}

QString ExamCentreGui::filterText() const
{
    return ui->tbxFilter->text();
}

void ExamCentreGui::showChosen(const QString &filter, const ExamSchedule *centre)
{
    ui->tbxFilter->setText(filter);
    const int i = centre ? int(centers.indexOf(const_cast<ExamSchedule *>(centre))) : -1;
    ui->cbxCenter->setCurrentIndex(i < 0 ? -1 : steps.last().shown.indexOf(i));
}

void ExamCentreGui::nextbtn()
{
    const QString text = ui->cbxCenter->currentText();
    if (text.isEmpty()) {
        warnNoCentre();
        return;
    }
    // The record behind the chosen item, also when another centre has the same name.
    const QVector<int> &shown = steps.last().shown;
    const int row = ui->cbxCenter->currentIndex();
    if (row < 0 || row >= shown.size())
        return;
    emit CenterNext(centers.at(shown.at(row)));
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
    showMessageBox(QMessageBox::Warning, QStringLiteral("Error"),
                   QStringLiteral("You must choose a school."));
}
