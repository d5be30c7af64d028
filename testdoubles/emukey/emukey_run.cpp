// Runs a program with an emulated key attached:
//   emukey-run [--ms-os-1 | --no-ms-os] [--guid GUID] [--unplug-after SECONDS]
//              -- PROGRAM [ARGS...]
// The key is silent (it sends nothing); the program's exit code is returned.
#include "emulated_key.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: emukey-run [--ms-os-1 | --no-ms-os] [--guid GUID] "
                 "[--unplug-after SECONDS] -- PROGRAM [ARGS...]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (!EmulatedBus::ensurePreloaded(argc, argv)) {
        std::fprintf(stderr, "emukey-run: cannot run under the umockdev preload\n");
        return 2;
    }
    EmulatedKeyConfig config;
    int unplugAfterMs = -1;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--ms-os-1")) {
            config.identity = EmulatedKeyConfig::MsOs10Only;
        } else if (!std::strcmp(argv[i], "--no-ms-os")) {
            config.identity = EmulatedKeyConfig::NoMsOs;
        } else if (!std::strcmp(argv[i], "--guid") && hasValue) {
            config.guid = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--unplug-after") && hasValue) {
            bool ok = false;
            const double seconds = QByteArray(argv[++i]).toDouble(&ok);
            if (!ok || seconds < 0)
                return usage();
            unplugAfterMs = static_cast<int>(seconds * 1000);
        } else {
            return usage();
        }
    }
    if (i + 1 >= argc)
        return usage();

    QCoreApplication app(argc, argv);
    EmulatedBus bus;
    EmulatedKey key(bus, config);
    if (!key.plug()) {
        std::fprintf(stderr, "emukey-run: cannot add the emulated key\n");
        return 2;
    }
    QStringList args;
    for (int a = i + 2; a < argc; ++a)
        args << QString::fromLocal8Bit(argv[a]);

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.setInputChannelMode(QProcess::ForwardedInputChannel);
    child.setProcessEnvironment(bus.childEnvironment());
    QObject::connect(&child, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &app,
                     [&](int code, QProcess::ExitStatus status) {
                         app.exit(status == QProcess::NormalExit ? code : 1);
                     });
    QObject::connect(&child, &QProcess::errorOccurred, &app, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            std::fprintf(stderr, "emukey-run: cannot start %s\n", argv[i + 1]);
            app.exit(2);
        }
    });
    if (unplugAfterMs >= 0)
        QTimer::singleShot(unplugAfterMs, &app, [&] { key.unplug(); });
    child.start(QString::fromLocal8Bit(argv[i + 1]), args);
    const int rc = app.exec();
    if (child.state() != QProcess::NotRunning) {
        child.terminate();
        if (!child.waitForFinished(2000))
            child.kill();
        child.waitForFinished(1000);
    }
    return rc;
}
