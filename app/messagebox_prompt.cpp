#include "messagebox_prompt.h"

#include "message_box.h"

namespace {
QMessageBox::Icon iconFor(OperatorPrompt::Kind kind)
{
    return kind == OperatorPrompt::Kind::Warning ? QMessageBox::Warning : QMessageBox::Information;
}
} // namespace

void MessageBoxPrompt::message(Kind kind, const QString &title, const QString &text)
{
    showMessageBox(iconFor(kind), title, text);
}

void MessageBoxPrompt::messageToCopy(Kind kind, const QString &title, const QString &text,
                                     const QString &copyable)
{
    QMessageBox box(iconFor(kind), title, text + QStringLiteral("\n\n") + copyable,
                    QMessageBox::Ok);
    // Shown as written.
    box.setTextFormat(Qt::PlainText);
    makeReadable(box);
    box.exec();
}
