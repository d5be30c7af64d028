// The test build of the program for the demo under Wine: the same program, with
// a virtual key on a test pipe in its own process, plugged as it starts. The
// key names the web service at 127.0.0.1:$BW_DEMO_SERVICE_PORT and scans its
// first tag $BW_DEMO_SCAN_AFTER_MS after the program greeted it.

#include "demo_catalog.h"
#include "pipe_key.h"
#include "virtual_key.h"

#include <QCoreApplication>
#include <QTimer>

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
    pipe->plug();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDemoKey)
