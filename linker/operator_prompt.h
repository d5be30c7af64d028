#pragma once

#include <QString>

// What the linker needs from the person at the screen. The program implements it
// with real message boxes; tests use a scripted double.
class OperatorPrompt
{
public:
    enum class Kind { Warning, Information, Question };

    virtual ~OperatorPrompt() = default;

    // A modal box with one OK button, without a parent window. Returns when the
    // operator has closed it; events keep being processed meanwhile.
    virtual void message(Kind kind, const QString &title, const QString &text) = 0;

    // As message(), followed by `copyable`, which the operator may need to copy
    // elsewhere: shown in full and selectable.
    virtual void messageToCopy(Kind kind, const QString &title, const QString &text,
                               const QString &copyable)
    {
        message(kind, title, text + QStringLiteral("\n\n") + copyable);
    }

    // A modal question with "Yes" and "No", "No" the default. True for "Yes".
    // Where nobody can be asked, the answer is "No".
    virtual bool ask(const QString &title, const QString &text)
    {
        (void)title;
        (void)text;
        return false;
    }
};
