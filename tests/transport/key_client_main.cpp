// Child program for the cross-process checks. Normally it attaches to the key
// through the link, answers every payload with payload + "-ack", and ends when
// the key is lost (exit 0) or after ten seconds (exit 2). With --probe it makes
// one search and prints "opened NODE", "denied NODE" or "absent".
#include "libusb_device.h"
#include "usb_link.h"

#include <libusb.h>

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace {

int devicesListed()
{
    libusb_context *ctx = nullptr;
    if (libusb_init(&ctx) != 0)
        return 0;
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    if (n >= 0)
        libusb_free_device_list(list, 1);
    libusb_exit(ctx);
    return static_cast<int>(n);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().contains(QStringLiteral("--probe"))) {
        LibusbDevice device;
        if (device.reconnect())
            std::printf("opened %s\n", qPrintable(device.current().devicePath));
        else if (!device.permissionProblem().isEmpty())
            std::printf("denied %s\n", qPrintable(device.permissionProblem()));
        else
            std::printf(devicesListed() > 0 ? "not opened, no reason\n" : "absent\n");
        return 0;
    }
    usbLink link(std::make_unique<LibusbDevice>());
    QObject::connect(&link, &usbLink::received, &app, [&](QByteArray payload) {
        const QByteArray answer = payload + "-ack";
        link.send(reinterpret_cast<const uint8_t *>(answer.constData()), answer.size());
    });
    QObject::connect(&link, &usbLink::usbConnected, &app, [&](bool stat) {
        std::printf("%s\n", stat ? "attached" : "lost");
        std::fflush(stdout);
        if (!stat)
            app.exit(0);
    });
    QTimer::singleShot(10000, &app, [&] { app.exit(2); });
    link.start();
    const int rc = app.exec();
    link.stop();
    return rc;
}
