#include "program_shutdown.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include "linker.h"
#include "workflow_dialogs.h"

ProgramShutdown::ProgramShutdown(cLinker *linker, WorkflowDialogs *dialogs, QObject *parent)
    : QObject(parent)
    , m_linker(linker)
    , m_dialogs(dialogs)
{
    QApplication::setQuitOnLastWindowClosed(false);
}

void ProgramShutdown::endWhenClosed(QWidget *window)
{
    m_window = window;
    window->installEventFilter(this);
}

bool ProgramShutdown::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Close)
        request();
    return QObject::eventFilter(watched, event);
}

void ProgramShutdown::request()
{
    if (m_requested)
        return;
    m_requested = true;
    m_dialogs->closeAll();
    // exit() ends every event loop of this thread, the nested ones included, and
    // any loop started after it returns at once.
    m_linker->packingWorkflow().stop([] { QCoreApplication::exit(0); });
}
