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
    // Our own deletions change the text again; the outer call finishes the job.
    if (trimming)
        return;
    trimming = true;
    QTextDocument *doc = ui->plainTextEdit->document();
    for (;;) {
        const int length = ui->plainTextEdit->toPlainText().size();
        const int excess = length - limit;
        if (excess <= 0)
            break;
        QTextCursor cursor = ui->plainTextEdit->textCursor();
        cursor.clearSelection();
        if (cursor.position() > 0) {
            // What was just typed or pasted stands before the cursor: drop its end.
            cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor,
                                qMin(excess, cursor.position()));
        } else {
            // Nothing before the cursor: drop the end of the comment instead.
            cursor = QTextCursor(doc);
            cursor.movePosition(QTextCursor::End);
            cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor, excess);
        }
        if (!cursor.hasSelection())
            break;
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
