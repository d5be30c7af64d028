#include "seals_today.h"

#include "ui_seals_today.h"

#include <QDir>
#include <QPushButton>

SealsTodayDialog::SealsTodayDialog(const QString &logPath, const PackingLog::DayLines &today,
                                   QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::SealsToday>())
{
    ui->setupUi(this);
    connect(ui->buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    QString summary;
    if (!today.error.isEmpty())
        summary = tr("The packing log could not be read: %1").arg(today.error);
    else if (today.lines.isEmpty())
        summary = tr("No seal is recorded in the packing log today.");
    else
        summary = today.lines.size() == 1
                ? tr("1 seal recorded in the packing log today:")
                : tr("%1 seals recorded in the packing log today, newest first:")
                          .arg(today.lines.size());
    if (today.olderNotRead)
        summary += QLatin1Char(' ')
                + tr("Only the end of the file was read; earlier lines of today are in the file.");
    ui->lblSummary->setText(summary);
    ui->txtSeals->setPlainText(today.lines.join(QLatin1Char('\n')));
    ui->txtSeals->setVisible(!today.lines.isEmpty());
    ui->lblFile->setText(tr("Packing log: %1\nA seal whose line could not be written is not in "
                            "this file; the warning at the time showed its line.")
                                 .arg(QDir::toNativeSeparators(logPath)));
    ui->buttons->button(QDialogButtonBox::Close)->setDefault(true);
    // Wide enough for a whole line where the screen allows.
    int widest = 0;
    for (const QString &line : today.lines)
        widest = qMax(widest, ui->txtSeals->fontMetrics().horizontalAdvance(line));
    resize(qBound(width(), widest + 60, 1000), height());
}

SealsTodayDialog::~SealsTodayDialog() = default;

QString SealsTodayDialog::summary() const
{
    return ui->lblSummary->text();
}

QStringList SealsTodayDialog::lines() const
{
    const QString text = ui->txtSeals->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}
