// The test build of the program for the demo under Wine: the same program, with
// a virtual key on a test pipe in its own process, plugged as it starts. The
// key names the web service at 127.0.0.1:$BW_DEMO_SERVICE_PORT and scans its
// first tag $BW_DEMO_SCAN_AFTER_MS after the program greeted it. With
// $BW_DEMO_RELAY (HOST:PORT) it names that relay server, asks the program to open
// the relay once greeted, sends one payload, and logs what comes back.

#include "demo_catalog.h"
#include "pipe_key.h"
#include "virtual_key.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace {

void startDemoKey()
{
    auto *pipe = new PipeKey(PipeKey::Options {}, QCoreApplication::instance());
    auto *key = new VirtualKey(pipe, pipe);
    QObject::connect(pipe, &PipeKey::hostMessage, key, &VirtualKey::hostMessage);
    bool ok = false;
    const int servicePort = qEnvironmentVariableIntValue("BW_DEMO_SERVICE_PORT", &ok);
    if (ok && servicePort > 0 && servicePort < 65536)
        key->identity().servicePort = static_cast<std::uint16_t>(servicePort);
    QList<QByteArray> rfids;
    const demo::DemoCatalog catalog;
    for (const demo::DemoLock &lock : catalog.locks())
        rfids << QByteArray(reinterpret_cast<const char *>(lock.rfid.data()),
                            static_cast<int>(lock.rfid.size()));
    key->setRfids(rfids);
    const int scanAfterMs = qEnvironmentVariableIntValue("BW_DEMO_SCAN_AFTER_MS", &ok);
    if (ok && scanAfterMs > 0) {
        QObject::connect(key, &VirtualKey::keyEvent, key,
                         [key, scanAfterMs](const QString &name, const QString &) {
                             if (name == QLatin1String("connect-request"))
                                 QTimer::singleShot(scanAfterMs, key, &VirtualKey::scan);
                         });
    }
    const QList<QByteArray> relay = qgetenv("BW_DEMO_RELAY").split(':');
    const int relayPort = relay.size() == 2 ? relay[1].toInt(&ok) : 0;
    if (ok && relayPort > 0 && relayPort < 65536) {
        key->identity().relayHost = QString::fromLatin1(relay[0]);
        key->identity().relayPort = static_cast<std::uint16_t>(relayPort);
        QObject::connect(
                key, &VirtualKey::keyEvent, key, [key](const QString &name, const QString &detail) {
                    // Once the program has the key's identity and status.
                    if (name == QLatin1String("connect-request"))
                        QTimer::singleShot(2000, key, &VirtualKey::requestRelayOpen);
                    else if (name == QLatin1String("relay-open"))
                        key->sendRelayPayload("relay under Wine");
                    else if (name == QLatin1String("relay-data"))
                        std::fprintf(stderr, "demo key: relay data %s\n", qPrintable(detail));
                });
    }
    pipe->plug();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDemoKey)
