#include <QtTest>

#include <QTemporaryDir>

#include "emulated_key.h"
#include "libusb_device.h"
#include "workflow_harness.h"

// One whole seal with the key emulated below libusb: the scan and the service
// endpoint travel as frames over the bulk pipes, the linker answers over them,
// and the run ends in the packing log line.
class WorkflowUsbTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void sealFromUsbBytesToTheLogLine();

private:
    std::unique_ptr<EmulatedBus> m_bus;
    QTemporaryDir m_config;
    QTemporaryDir m_work;
};

void WorkflowUsbTest::initTestCase()
{
    QVERIFY(EmulatedBus::preloaded());
    useTestFolders(m_config, m_work);
    m_bus = std::make_unique<EmulatedBus>();
}

void WorkflowUsbTest::cleanupTestCase()
{
    m_bus.reset();
}

void WorkflowUsbTest::sealFromUsbBytesToTheLogLine()
{
    EmulatedKey key(*m_bus);
    QVERIFY(key.plug());
    WorkflowHarness::Key side;
    side.device = std::make_unique<LibusbDevice>();
    side.send = [&key](const QByteArray &frame) { key.queueFromKey(frame); };
    side.attached = [&key] { return !key.receivedBytes().isEmpty(); };
    {
        WorkflowHarness h(nullptr, std::move(side));
        QVERIFY(h.link->isConnected());
        // The linker greeted the key over the OUT pipe.
        QByteArray connectRequest;
        QVERIFY(key.takeFrame(connectRequest, 2000));
        QVERIFY(connectRequest.startsWith(QByteArray::fromHex("01011a02")));

        seedStandardData(h.web);
        h.runToCentres("303903");
        h.sealFirstCentre("via usb");
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(h.prompt.texts(), QStringList {"Success|Packed"});
        QCOMPARE(h.logBytes(),
                 QByteArray("2024-03-05 14:07:09    CenterName:North Hall    "
                            "Subject:Mathematics    LockId:L7    ScannedRfid:303903\r\n"));
        QCOMPARE(h.web.sealBodies().size(), 1);
    }
    key.unplug();
}

int main(int argc, char **argv)
{
    if (!EmulatedBus::ensurePreloaded(argc, argv)) {
        qCritical("cannot run under the umockdev preload");
        return 1;
    }
    QCoreApplication app(argc, argv);
    WorkflowUsbTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_workflow_usb.moc"
