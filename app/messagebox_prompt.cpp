#include "messagebox_prompt.h"

#include <QMessageBox>

void MessageBoxPrompt::message(Kind kind, const QString &title, const QString &text)
{
    const QMessageBox::Icon icon
            = kind == Kind::Warning ? QMessageBox::Warning : QMessageBox::Information;
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    box.exec();
}

void MessageBoxPrompt::messageToCopy(Kind kind, const QString &title, const QString &text,
                                     const QString &copyable)
{
    const QMessageBox::Icon icon
            = kind == Kind::Warning ? QMessageBox::Warning : QMessageBox::Information;
    QMessageBox box(icon, title, text + QStringLiteral("\n\n") + copyable, QMessageBox::Ok);
    // Shown as written, and selectable for copying.
    box.setTextFormat(Qt::PlainText);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}
