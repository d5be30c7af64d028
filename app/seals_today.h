#pragma once

#include <QDialog>

#include <memory>

#include "workflow_packlog.h"

namespace Ui {
class SealsToday;
}

// Read-only list of today's lines of the packing log, newest first, so the
// operator can check that a box was recorded. Names the file, because a line
// the program could not write is not in it.
class SealsTodayDialog : public QDialog
{
    Q_OBJECT
public:
    SealsTodayDialog(const QString &logPath, const PackingLog::DayLines &today,
                     QWidget *parent = nullptr);
    ~SealsTodayDialog() override;

    QString summary() const;
    QStringList lines() const;

private:
    std::unique_ptr<Ui::SealsToday> ui;
};
