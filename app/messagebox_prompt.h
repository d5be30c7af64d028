#pragma once

#include "operator_prompt.h"

// Operator messages as parentless modal message boxes with one OK button.
class MessageBoxPrompt : public OperatorPrompt
{
public:
    void message(Kind kind, const QString &title, const QString &text) override;
    // The whole text can be selected and copied.
    void messageToCopy(Kind kind, const QString &title, const QString &text,
                       const QString &copyable) override;
    bool ask(const QString &title, const QString &text) override;
};
