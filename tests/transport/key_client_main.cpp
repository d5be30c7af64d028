// Child program for the cross-process check: attaches to the key through the
// link, answers every payload with payload + "-ack", and ends when the key is
// lost (exit 0) or after ten seconds (exit 2).
#include "libusb_device.h"
#include "usb_link.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
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
