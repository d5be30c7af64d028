#include "messagebox_prompt.h"

#include <QMessageBox>

namespace {

void showBox(OperatorPrompt::Kind kind, const QString &title, const QString &text, bool selectable)
{
    const QMessageBox::Icon icon = kind == OperatorPrompt::Kind::Warning ? QMessageBox::Warning
                                                                         : QMessageBox::Information;
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    if (selectable) {
        box.setTextFormat(Qt::PlainText);
        box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    box.exec();
}

} // namespace

void MessageBoxPrompt::message(Kind kind, const QString &title, const QString &text)
{
    showBox(kind, title, text, false);
}

void MessageBoxPrompt::messageToCopy(Kind kind, const QString &title, const QString &text,
                                     const QString &copyable)
{
    showBox(kind, title, text + QStringLiteral("\n\n") + copyable, true);
}
