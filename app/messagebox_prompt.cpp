#include "messagebox_prompt.h"

#include "message_box.h"

namespace {
QMessageBox::Icon iconFor(OperatorPrompt::Kind kind)
{
    switch (kind) {
    case OperatorPrompt::Kind::Warning:
        return QMessageBox::Warning;
    case OperatorPrompt::Kind::Question:
        return QMessageBox::Question;
    case OperatorPrompt::Kind::Information:
        break;
    }
    return QMessageBox::Information;
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

bool MessageBoxPrompt::ask(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
    // A stray Enter must not repeat anything.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    makeReadable(box);
    return box.exec() == QMessageBox::Yes;
}
