#include "udev_probe.h"

#include "key_probe.h"

#include <QRegularExpression>

namespace {

// Numbers as udev prints them: decimal, possibly zero-padded to three digits.
bool parseNumber(const QString &text, int max, int &out)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,3}$"));
    if (!digits.match(text).hasMatch())
        return false;
    out = text.toInt();
    return out >= 1 && out <= max;
}

constexpr int kMaxBus = 255;
constexpr int kMaxAddress = 127;

} // namespace

bool parseProbeTarget(const QStringList &args, const QString &envBus, const QString &envDev,
                      ProbeTarget &target, QString &error)
{
    QString bus, address;
    if (args.size() == 2) {
        bus = args[0];
        address = args[1];
    } else if (args.size() == 1) {
        static const QRegularExpression node(
                QStringLiteral("^/dev/bus/usb/([0-9]{1,3})/([0-9]{1,3})$"));
        const QRegularExpressionMatch m = node.match(args[0]);
        if (!m.hasMatch()) {
            error = QStringLiteral("not a USB device node: %1").arg(args[0]);
            return false;
        }
        bus = m.captured(1);
        address = m.captured(2);
    } else if (args.isEmpty()) {
        bus = envBus;
        address = envDev;
    } else {
        error = QStringLiteral(
                "usage: boxwright-udev-probe [BUSNUM DEVNUM | /dev/bus/usb/BBB/DDD]");
        return false;
    }
    if (!parseNumber(bus, kMaxBus, target.bus)) {
        error = QStringLiteral("bad bus number: '%1'").arg(bus);
        return false;
    }
    if (!parseNumber(address, kMaxAddress, target.address)) {
        error = QStringLiteral("bad device number: '%1'").arg(address);
        return false;
    }
    return true;
}

ProbeVerdict probeDevice(libusb_context *ctx, const ProbeTarget &target, QString &detail)
{
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    if (n < 0) {
        detail = QString::fromUtf8(libusb_strerror(static_cast<int>(n)));
        return ProbeVerdict::NoDevice;
    }
    libusb_device *device = nullptr;
    for (ssize_t i = 0; i < n; ++i) {
        if (libusb_get_bus_number(list[i]) == target.bus
            && libusb_get_device_address(list[i]) == target.address) {
            device = list[i];
            break;
        }
    }
    ProbeVerdict verdict = ProbeVerdict::NoDevice;
    if (!device) {
        detail = QStringLiteral("no USB device at bus %1 address %2")
                         .arg(target.bus)
                         .arg(target.address);
    } else if (!deviceCouldBeKey(device)) {
        verdict = ProbeVerdict::NotKey;
    } else {
        libusb_device_handle *handle = nullptr;
        const int rc = libusb_open(device, &handle);
        if (rc != 0) {
            detail = QStringLiteral("cannot open bus %1 address %2: %3")
                             .arg(target.bus)
                             .arg(target.address)
                             .arg(QString::fromUtf8(libusb_strerror(rc)));
            verdict = ProbeVerdict::OpenFailed;
        } else {
            verdict = deviceCarriesKeyGuid(handle) ? ProbeVerdict::Key : ProbeVerdict::NotKey;
            libusb_close(handle);
        }
    }
    libusb_free_device_list(list, 1);
    return verdict;
}
