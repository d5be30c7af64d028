// Bytes of any content, written in pieces of any size to the running instance's local
// socket by a client that then hangs up: the instance raises its window exactly when
// the first line is the raise request, and lets go of every connection.
#include "fuzz_support.h"
#include "single_instance.h"

#include <QLocalSocket>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

SingleInstance *primary = nullptr;
int raised = 0;

int openConnections()
{
    return primary->findChildren<QLocalSocket *>().size();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    startQuietApplication();
    static QTemporaryDir dir;
    static SingleInstance instance(QStringLiteral("fuzz"), dir.path());
    primary = &instance;
    require(instance.claim() == SingleInstance::Role::Primary);
    QObject::connect(&instance, &SingleInstance::activationRequested, [] { ++raised; });
    return 0;
}

// Input: piece size, then the bytes the client sends.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int piece = 1 + data[0] % 80;
    const QByteArray message(reinterpret_cast<const char *>(data + 1), int(size - 1));
    const int raisedBefore = raised;
    {
        QLocalSocket client;
        client.connectToServer(primary->socketPath());
        require(client.waitForConnected(1000));
        require(pumpUntil([] { return openConnections() > 0; }, 1000));
        for (int pos = 0; pos < message.size() && client.state() == QLocalSocket::ConnectedState;
             pos += piece) {
            client.write(message.mid(pos, piece));
            client.flush();
            QCoreApplication::processEvents();
        }
        client.disconnectFromServer();
    }
    // The instance lets go of the connection once the client is gone.
    require(pumpUntil([] { return openConnections() == 0; }, 3000));
    require(raised - raisedBefore == (message.startsWith("raise\n") ? 1 : 0));
    return 0;
}
