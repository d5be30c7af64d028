#include "confirmgui.h"

#include "ui_confirmgui.h"

#include <QTextCursor>

ConfirmGui::ConfirmGui(QString subject, QString center, QString lockDesc, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ConfirmGui)
{
    ui->setupUi(this);
    limit = 256;
    connect(ui->btnFinish, &QPushButton::clicked, this, &ConfirmGui::finishbtn);
    connect(ui->btnBack, &QPushButton::clicked, this, &ConfirmGui::backbtn);
    connect(ui->btnCancel, &QPushButton::clicked, this, &ConfirmGui::cancelbtn);
    connect(ui->plainTextEdit, &QPlainTextEdit::textChanged, this,
            &ConfirmGui::on_edit_textChanged);
    ui->lblSub->setText(subject);
    ui->lblCenter->setText(center);
    ui->lblLockDesc->setText(lockDesc);
}

ConfirmGui::~ConfirmGui()
{
    delete ui;
}

void ConfirmGui::on_edit_textChanged()
{
    // Our own deletion changes the text again; the outer call finishes the job.
    if (trimming)
        return;
    trimming = true;
    for (;;) {
        // Counted and cut in UTF-16 units, which is what the limit counts.
        const QString text = ui->plainTextEdit->toPlainText();
        const int excess = text.size() - limit;
        if (excess <= 0)
            break;
        QTextCursor cursor = ui->plainTextEdit->textCursor();
        // What was just typed or pasted stands before the cursor: drop its end.
        // With nothing before the cursor, drop the end of the comment instead.
        const int end = cursor.position() > 0 ? cursor.position() : text.size();
        int start = qMax(0, end - excess);
        // Never keep half of a surrogate pair.
        if (start > 0 && text.at(start).isLowSurrogate() && text.at(start - 1).isHighSurrogate())
            --start;
        if (start == end)
            break;
        cursor.setPosition(start);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    trimming = false;
}

void ConfirmGui::finishbtn()
{
    emit ConfirmFinish(ui->plainTextEdit->toPlainText());
    close();
}

void ConfirmGui::backbtn()
{
    emit ConfirmBack();
    close();
}

void ConfirmGui::cancelbtn()
{
    close();
}
