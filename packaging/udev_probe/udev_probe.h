#pragma once

#include <QString>
#include <QStringList>

#include <libusb.h>

// The property udev imports for a device that is the key.
constexpr const char *kKeyProperty = "ID_BOXWRIGHT_KEY";

// Bus number and device address of the device udev asks about.
struct ProbeTarget
{
    int bus = 0;
    int address = 0;
};

// Reads the target from the arguments (BUSNUM DEVNUM, or one device node
// /dev/bus/usb/BBB/DDD) or, with no arguments, from udev's BUSNUM and DEVNUM
// variables. False, with a reason, on anything else.
bool parseProbeTarget(const QStringList &args, const QString &envBus, const QString &envDev,
                      ProbeTarget &target, QString &error);

enum class ProbeVerdict {
    Key, // its Microsoft OS descriptors name the key's interface GUID
    NotKey, // no such interface, no such descriptors, or another GUID
    NoDevice, // nothing at that bus and address
    OpenFailed, // a candidate that could not be opened
};

// Looks the device up, skips it unless it could be the key (known without
// opening it), then opens it and asks for its descriptors.
ProbeVerdict probeDevice(libusb_context *ctx, const ProbeTarget &target, QString &detail);
