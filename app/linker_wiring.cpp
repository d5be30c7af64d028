#include "linker_wiring.h"

#include "keywindow.h"
#include "linker.h"
#include "mainwindow.h"

void wireDashboard(cLinker *linker, KeyWindow *dashboard)
{
    QObject::connect(linker, &cLinker::updateLabel, dashboard, &KeyWindow::updateLabel);
    QObject::connect(linker, &cLinker::updateLabelColor, dashboard, &KeyWindow::updateLabelColor);
    QObject::connect(linker, &cLinker::updateStatus, dashboard, &KeyWindow::updateStatus);
    QObject::connect(linker, &cLinker::updateStatusColor, dashboard, &KeyWindow::updateStatusColor);
    QObject::connect(linker, &cLinker::updatePbar, dashboard, &KeyWindow::updatePbar);
    QObject::connect(linker, &cLinker::updatePbarColor, dashboard, &KeyWindow::updatePbarColor);
    QObject::connect(linker, &cLinker::setTransCount, dashboard, &KeyWindow::setTransCount);
    QObject::connect(linker, &cLinker::TransferBusy, dashboard, &KeyWindow::TransferBusy);
    QObject::connect(linker, &cLinker::setBattery, dashboard, &KeyWindow::setBattery);
    QObject::connect(linker, &cLinker::setManual, dashboard, &KeyWindow::setManual);
    QObject::connect(dashboard, &KeyWindow::requestTransfer, linker, &cLinker::requestTransfer);
    QObject::connect(linker, &cLinker::setBtnEnabled, dashboard, &KeyWindow::setBtnEnabled);
    QObject::connect(linker, &cLinker::setReqBtn, dashboard, &KeyWindow::setReqBtn);
    QObject::connect(dashboard, &KeyWindow::requestScanTag, linker, &cLinker::requestScanTag);
    QObject::connect(dashboard, &KeyWindow::requestOpen, linker, &cLinker::requestOpen);
    QObject::connect(dashboard, &KeyWindow::requestClose, linker, &cLinker::requestClose);
}

void wireMainWindow(cLinker *linker, MainWindow *window)
{
    wireDashboard(linker, window->dashboard());
    QObject::connect(linker, &cLinker::setLayout, window, &MainWindow::setLayout);
}
