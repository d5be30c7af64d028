#include "instance_guard.h"

#include "single_instance.h"

#include <QMessageBox>
#include <QWidget>

bool runAsOnlyInstance(SingleInstance &instance, int &exitCode)
{
    switch (instance.claim()) {
    case SingleInstance::Role::Primary:
        return true;
    case SingleInstance::Role::Forwarded:
        exitCode = 0;
        return false;
    case SingleInstance::Role::NoAnswer:
        break;
    }
    const QString text = instance.holderPid() > 0
            ? QObject::tr("Boxwright is already running (process %1) but does not respond. "
                          "Close it, then start Boxwright again.")
                      .arg(instance.holderPid())
            : QObject::tr("Boxwright is already running but does not respond. Close it, then "
                          "start Boxwright again.");
    QMessageBox::warning(nullptr, QStringLiteral("Error"), text);
    exitCode = 1;
    return false;
}

void raiseWhenAsked(SingleInstance &instance, QWidget *window)
{
    QObject::connect(&instance, &SingleInstance::activationRequested, window, [window] {
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        window->show();
        window->raise();
        window->activateWindow();
    });
}
