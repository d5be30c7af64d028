// Run by udev for candidate USB devices (see 70-boxwright-key.rules). Prints
// ID_BOXWRIGHT_KEY=1 when the device is the key, nothing when it is not; exits
// non-zero only when it could not tell.

#include "udev_probe.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    ProbeTarget target;
    QString error;
    if (!parseProbeTarget(args, QString::fromLocal8Bit(qgetenv("BUSNUM")),
                          QString::fromLocal8Bit(qgetenv("DEVNUM")), target, error)) {
        std::fprintf(stderr, "boxwright-udev-probe: %s\n", qPrintable(error));
        return 2;
    }

    libusb_context *ctx = nullptr;
    const int rc = libusb_init(&ctx);
    if (rc != 0) {
        std::fprintf(stderr, "boxwright-udev-probe: libusb: %s\n", libusb_strerror(rc));
        return 1;
    }
    QString detail;
    const ProbeVerdict verdict = probeDevice(ctx, target, detail);
    libusb_exit(ctx);

    switch (verdict) {
    case ProbeVerdict::Key:
        std::printf("%s=1\n", kKeyProperty);
        return 0;
    case ProbeVerdict::NotKey:
        return 0;
    case ProbeVerdict::NoDevice:
    case ProbeVerdict::OpenFailed:
        break;
    }
    std::fprintf(stderr, "boxwright-udev-probe: %s\n", qPrintable(detail));
    return 1;
}
