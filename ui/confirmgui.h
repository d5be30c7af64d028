#pragma once

#include <QDialog>

namespace Ui {
class ConfirmGui;
}

// Shows what is about to be sealed and takes an optional comment of at most
// 256 characters.
class ConfirmGui : public QDialog
{
    Q_OBJECT
public:
    ConfirmGui(QString subject, QString center, QString lockDesc, QWidget *parent = nullptr);
    ~ConfirmGui() override;

    int commentLimit() const { return limit; }

    // Trims the comment back to the limit after every change. Not a slot by
    // name-based auto-connection: it is connected explicitly.
    void on_edit_textChanged();

signals:
    void ConfirmFinish(QString comment);
    void ConfirmBack();

public slots:
    void finishbtn();
    void backbtn();
    void cancelbtn();

private:
    Ui::ConfirmGui *ui;
    int limit = 0;
    bool trimming = false;
};
