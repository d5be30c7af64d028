// boxwright-virtual-key: an emulated key on an emulated USB bus, with the
// program started as a child that sees it. Driven by a scenario file or by
// commands typed at its prompt (or written to its standard input).
#include "demo_catalog.h"
#include "emulated_key.h"
#include "key_commands.h"
#include "program_runner.h"
#include "usb_key_port.h"
#include "virtual_key.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

std::atomic<bool> g_signalled {false};

void onSignal(int)
{
    g_signalled = true;
}

void say(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The demo's tags: every sample lock (including one the service does not
// know), then an empty scan of all-zero bytes.
QList<QByteArray> demoRfids()
{
    QList<QByteArray> list;
    demo::DemoCatalog catalog;
    for (const demo::DemoLock &lock : catalog.locks())
        list << QByteArray(reinterpret_cast<const char *>(lock.rfid.data()),
                           static_cast<int>(lock.rfid.size()));
    list << QByteArray(4, '\0');
    return list;
}

} // namespace

int main(int argc, char **argv)
{
    // The key's own process must run under the preload too, or its uevents
    // never reach the program.
    if (!EmulatedBus::ensurePreloaded(argc, argv)) {
        std::fprintf(stderr,
                     "boxwright-virtual-key: could not restart under the umockdev preload\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("boxwright-virtual-key");
    QCommandLineParser p;
    p.setApplicationDescription("Emulated key for trying Boxwright without hardware.");
    p.addHelpOption();
    p.addOptions({
            {"scenario", "Run the commands of FILE, then stop.", "file"},
            {"program", "Start PROGRAM as a child that sees the key.", "program"},
            {"program-dir", "Working directory of the program.", "dir"},
            {"program-log", "Append the program's output to FILE.", "file"},
            {"service-host", "Web service host the key reports.", "host", "127.0.0.1"},
            {"service-port", "Web service port the key reports.", "port", "8080"},
            {"relay-host", "Relay server address the key reports.", "host", "127.0.0.1"},
            {"relay-port", "Relay server port the key reports.", "port", "5077"},
            {"sw", "Software version the key reports.", "version", "1.6.3"},
            {"step-ms", "Milliseconds between key bar steps.", "ms", "150"},
            {"unplugged", "Start with the key unplugged."},
    });
    p.process(app);

    auto port16 = [&p](const char *name, quint16 *out) {
        bool ok = false;
        const uint v = p.value(name).toUInt(&ok);
        if (!ok || v == 0 || v > 65535) {
            std::fprintf(stderr, "Invalid --%s\n", name);
            return false;
        }
        *out = static_cast<quint16>(v);
        return true;
    };

    QStringList scenario;
    if (p.isSet("scenario")) {
        QFile f(p.value("scenario"));
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
            std::fprintf(stderr, "Cannot read %s\n", qPrintable(f.fileName()));
            return 2;
        }
        scenario = QString::fromUtf8(f.readAll()).split('\n');
    }

    EmulatedBus bus;
    UsbKeyPort usb(bus);
    VirtualKey key(&usb);
    KeyIdentity &id = key.identity();
    id.serviceHost = p.value("service-host");
    id.relayHost = p.value("relay-host");
    id.sw = p.value("sw");
    if (!port16("service-port", &id.servicePort) || !port16("relay-port", &id.relayPort))
        return 2;
    key.setStepInterval(qMax(1, p.value("step-ms").toInt()));
    key.setRfids(demoRfids());

    KeyCommands commands(key, &usb);
    commands.setStopOnFailure(!scenario.isEmpty());
    ProgramRunner program;
    QObject::connect(&usb, &UsbKeyPort::hostMessage, &key, &VirtualKey::hostMessage);
    auto showEvent = [](const QString &name, const QString &detail) {
        say(QStringLiteral("event %1%2").arg(name, detail.isEmpty() ? QString() : ' ' + detail));
    };
    QObject::connect(&key, &VirtualKey::keyEvent, showEvent);
    QObject::connect(&usb, &UsbKeyPort::portEvent, showEvent);
    QObject::connect(&usb, &UsbKeyPort::portEvent, &commands, &KeyCommands::noteEvent);
    QObject::connect(&program, &ProgramRunner::runnerEvent, showEvent);
    QObject::connect(&program, &ProgramRunner::runnerEvent, &commands, &KeyCommands::noteEvent);
    QObject::connect(&commands, &KeyCommands::output, say);

    int exitCode = 0;
    auto finish = [&](int code) {
        exitCode = code;
        program.stop();
        QCoreApplication::exit(code);
    };
    QObject::connect(&commands, &KeyCommands::quitRequested, [&] { finish(0); });
    QObject::connect(
            &program, &ProgramRunner::runnerEvent, [&](const QString &name, const QString &detail) {
                // A scenario cannot go on without the program.
                if (!scenario.isEmpty() && name == "program-exited" && detail != "stopped") {
                    say("fail: the program ended (" + detail + ")");
                    finish(1);
                }
            });

    if (!p.isSet("unplugged") && !usb.plug()) {
        std::fprintf(stderr, "Could not plug the emulated key in\n");
        return 1;
    }
    if (p.isSet("program")
        && !program.start(p.value("program"), p.value("program-dir"), bus.childEnvironment(),
                          p.value("program-log"))) {
        std::fprintf(stderr, "Could not start %s\n", qPrintable(p.value("program")));
        return 1;
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QTimer signalPoll;
    QObject::connect(&signalPoll, &QTimer::timeout, [&] {
        if (g_signalled)
            finish(130);
    });
    signalPoll.start(100);

    std::unique_ptr<QSocketNotifier> input;
    QByteArray pending;
    const bool tty = isatty(STDIN_FILENO);
    if (!scenario.isEmpty()) {
        QObject::connect(&commands, &KeyCommands::drained,
                         [&] { finish(commands.failures() ? 1 : 0); });
        QTimer::singleShot(0, [&] { commands.addLines(scenario); });
    } else {
        say("Virtual key ready. Type help for the commands.");
        input = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(input.get(), &QSocketNotifier::activated, [&] {
            char buf[4096];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                // End of input: finish what is queued, then stop.
                input->setEnabled(false);
                if (!commands.busy())
                    finish(commands.failures() ? 1 : 0);
                else
                    QObject::connect(&commands, &KeyCommands::drained,
                                     [&] { finish(commands.failures() ? 1 : 0); });
                return;
            }
            pending.append(buf, static_cast<int>(n));
            int nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                commands.addLine(QString::fromUtf8(pending.left(nl)));
                pending.remove(0, nl + 1);
            }
            if (tty)
                std::fputs("key> ", stdout), std::fflush(stdout);
        });
        if (tty)
            std::fputs("key> ", stdout), std::fflush(stdout);
    }

    app.exec();
    program.stop();
    return exitCode;
}
