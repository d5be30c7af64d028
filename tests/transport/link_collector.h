#pragma once

#include "usb_link.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>

// Receives the link's signals on the test thread, as the linker would.
class Collector : public QObject
{
    Q_OBJECT
public:
    explicit Collector(usbLink *link)
    {
        connect(link, &usbLink::received, this,
                [this](QByteArray payload) { payloads.append(payload); });
        connect(link, &usbLink::usbConnected, this,
                [this](bool stat) { connections.append(stat); });
        connect(link, &usbLink::permissionProblem, this,
                [this](QString node) { deniedNodes.append(node); });
    }
    QList<QByteArray> payloads;
    QList<bool> connections;
    QStringList deniedNodes;
};
