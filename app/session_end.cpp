#include "session_end.h"

#include "mainwindow.h"

#include <QCoreApplication>

void endWithSession(QCoreApplication *app, MainWindow *window)
{
    QObject::connect(app, &QCoreApplication::aboutToQuit, window, &MainWindow::tearDown);
}
