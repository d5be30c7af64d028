#pragma once

#include <QObject>

class cLinker;
class QWidget;
class WorkflowDialogs;

// Ends the program when the operator closes the main window or the session asks
// it to end, also in the middle of a packing run: the workflow's dialogs close,
// no step (and so no seal) starts any more, and the event loop ends together
// with any nested wait or message box. A seal already sent first gets its answer
// and its log line (bounded by the seal's time limit). This object alone
// decides when the program ends: it turns off quitting on the last window.
class ProgramShutdown : public QObject
{
    Q_OBJECT
public:
    // Both must outlive this object.
    ProgramShutdown(cLinker *linker, WorkflowDialogs *dialogs, QObject *parent = nullptr);

    // Closing `window` (its close control, or the window manager) ends the program.
    void endWhenClosed(QWidget *window);
    bool requested() const { return m_requested; }

public slots:
    void request();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    cLinker *m_linker;
    WorkflowDialogs *m_dialogs;
    QObject *m_window = nullptr;
    bool m_requested = false;
};
