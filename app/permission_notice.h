#pragma once

#include "usb_device.h"

#include <QObject>
#include <QString>

#include <functional>

class QTimer;
class usbLink;
class WaitWindow;

// Shows "the key is there but cannot be opened" as the waiting view's hint line,
// in the device layer's words, and clears it once the link no longer reports
// the problem (access granted, or the key unplugged). The link keeps searching
// meanwhile, so access granted while the program runs connects without a restart.
class PermissionNotice : public QObject
{
    Q_OBJECT
public:
    // source: the problem the link currently reports, or an empty one. Asked
    // every pollMs, which also catches a report made before anything was connected.
    explicit PermissionNotice(std::function<UsbAccessProblem()> source, QObject *parent = nullptr,
                              int pollMs = 1000);

    QString hint() const { return hint_; }

public slots:
    // The link reported a problem: ask the source for its words at once.
    void deviceDenied();
    void keyConnected(bool attached);

signals:
    void hintChanged(const QString &hint);

private:
    void show(const QString &hint);

    std::function<UsbAccessProblem()> source_;
    QTimer *poll_;
    QString hint_;
};

// The program's wiring: the link's reports to the waiting view's hint line.
PermissionNotice *wirePermissionNotice(usbLink *link, WaitWindow *view);
