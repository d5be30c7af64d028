#include "waiting_look.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>

namespace {

const char *const StateName = "waitingState";

// Child of the waiting window: what showWaiting() switched off.
class WaitingState : public QObject
{
public:
    explicit WaitingState(QWidget *window)
        : QObject(window)
    {
        setObjectName(QLatin1String(StateName));
    }

    QList<QPointer<QWidget>> disabled;
    QPointer<QWidget> focus;
};

template<class T>
void switchOff(QWidget *window, WaitingState *state)
{
    for (T *w : window->findChildren<T *>()) {
        if (w->isEnabled()) {
            state->disabled << w;
            w->setEnabled(false);
        }
    }
}

QLabel *statusLine(QWidget *window)
{
    return window->findChild<QLabel *>(QStringLiteral("lblStatus"));
}

} // namespace

void showWaiting(QWidget *window, const QString &text)
{
    if (QLabel *status = statusLine(window)) {
        status->setText(text);
        status->show();
    }
    if (window->findChild<WaitingState *>(QLatin1String(StateName), Qt::FindDirectChildrenOnly))
        return;
    auto *state = new WaitingState(window);
    state->focus = window->focusWidget();
    switchOff<QAbstractButton>(window, state);
    switchOff<QLineEdit>(window, state);
    switchOff<QComboBox>(window, state);
    switchOff<QPlainTextEdit>(window, state);
    window->setCursor(Qt::BusyCursor);
}

void endWaiting(QWidget *window)
{
    if (QLabel *status = statusLine(window)) {
        status->hide();
        status->clear();
    }
    auto *state = window->findChild<WaitingState *>(QLatin1String(StateName),
                                                    Qt::FindDirectChildrenOnly);
    if (!state)
        return;
    for (const QPointer<QWidget> &w : qAsConst(state->disabled)) {
        if (w)
            w->setEnabled(true);
    }
    if (state->focus)
        state->focus->setFocus();
    window->unsetCursor();
    delete state;
}
