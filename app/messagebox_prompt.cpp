#include "messagebox_prompt.h"

#include <QMessageBox>

void MessageBoxPrompt::message(Kind kind, const QString &title, const QString &text)
{
    const QMessageBox::Icon icon
            = kind == Kind::Warning ? QMessageBox::Warning : QMessageBox::Information;
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    box.exec();
}
