#include "arrworker.h"
#include "keywindow.h"
#include "linker.h"
#include "linker_wiring.h"
#include "mainwindow.h"
#include "session_end.h"
#include "usb_device.h"
#include "usb_link.h"
#include "waitwindow.h"

#include <QLabel>
#include <QMutex>
#include <QPushButton>
#include <QWaitCondition>
#include <QtTest>

namespace {

const QString Images = QStringLiteral(BW_TEST_IMAGES);

// Bytes written to the key; outlives the device, which goes with the link.
struct WriteLog
{
    QMutex mutex;
    QByteArray bytes;
    QByteArray snapshot()
    {
        QMutexLocker lock(&mutex);
        return bytes;
    }
};

// A key that is always attached, never sends anything and records every write.
class QuietKey : public UsbDevice
{
public:
    explicit QuietKey(std::shared_ptr<WriteLog> log)
        : log(std::move(log))
    {
    }
    bool reconnect() override
    {
        record.opened = true;
        record.devicePath = QStringLiteral("/dev/bus/usb/001/042");
        return true;
    }
    int readPipe(uint8_t *, int) override
    {
        QMutexLocker lock(&mutex);
        while (!cancelled)
            wake.wait(&mutex);
        return -1;
    }
    int writePipe(const uint8_t *bytes, int n) override
    {
        QMutexLocker lock(&log->mutex);
        log->bytes += QByteArray(reinterpret_cast<const char *>(bytes), n);
        return n;
    }
    const UsbDeviceRecord &current() const override { return record; }
    void cancelRead() override
    {
        QMutexLocker lock(&mutex);
        cancelled = true;
        wake.wakeAll();
    }

private:
    std::shared_ptr<WriteLog> log;
    UsbDeviceRecord record;
    QMutex mutex;
    QWaitCondition wake;
    bool cancelled = false;
};

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

} // namespace

class WiringTest : public QObject
{
    Q_OBJECT

    std::shared_ptr<WriteLog> key;
    std::unique_ptr<MainWindow> window;
    cLinker *linker = nullptr;

private slots:
    void init()
    {
        key = std::make_shared<WriteLog>();
        usbLink::createInstance(std::make_unique<QuietKey>(key));
        window = std::make_unique<MainWindow>(Images, [] {
            cLinker::destroyInstance();
            usbLink::destroyInstance();
        });
        linker = cLinker::get();
        wireMainWindow(linker, window.get());
        window->show();
    }
    void cleanup() { window.reset(); }

    void keyArrivalShowsDashboard()
    {
        QTRY_VERIFY_WITH_TIMEOUT(window->dashboard()->isVisible(), 5000);
        QCOMPARE(window->size(), QSize(310, 400));
        // The connect request went out.
        QTRY_VERIFY(key->snapshot().contains(bytes({0x01, 0x01, 0x1A, 0x02, 0x00, 0x04})));
        emit linker->setLayout(0);
        QVERIFY(window->waitView()->isVisible());
        QCOMPARE(window->size(), QSize(250, 150));
    }

    void buttonsReachTheKey()
    {
        QTRY_VERIFY_WITH_TIMEOUT(window->dashboard()->isVisible(), 5000);
        auto *unlock = window->dashboard()->findChild<QPushButton *>(QStringLiteral("btnUnlock"));
        QTest::mouseClick(unlock, Qt::LeftButton);
        QTRY_VERIFY(key->snapshot().contains(bytes({0x01, 0x01, 0x15, 0x05, 0x00, 0x00})));
        auto *scan = window->dashboard()->findChild<QPushButton *>(QStringLiteral("btnScanTag"));
        QTest::mouseClick(scan, Qt::LeftButton);
        QTRY_VERIFY(key->snapshot().contains(bytes({0x01, 0x01, 0x13, 0x05, 0x00, 0x00})));
        auto *lock = window->dashboard()->findChild<QPushButton *>(QStringLiteral("btnLock"));
        QTest::mouseClick(lock, Qt::LeftButton);
        QTRY_VERIFY(key->snapshot().contains(bytes({0x01, 0x01, 0x16, 0x05, 0x00, 0x00})));
    }

    void linkerSignalsReachTheDashboard()
    {
        KeyWindow *k = window->dashboard();
        emit linker->updateStatus(QStringLiteral("Unlocking..."));
        emit linker->updateLabel(3, QStringLiteral("0A1B2C3D"));
        emit linker->setBattery(45);
        emit linker->setBtnEnabled(false);
        emit linker->setManual(true);
        QCOMPARE(k->findChild<QLabel *>(QStringLiteral("lblStatus"))->text(),
                 QStringLiteral("Unlocking..."));
        QCOMPARE(k->findChild<QLabel *>(QStringLiteral("lblDetail3"))->text(),
                 QStringLiteral("0A1B2C3D"));
        QCOMPARE(k->findChild<QLabel *>(QStringLiteral("lblBatteryText"))->text(),
                 QStringLiteral("45 %"));
        QVERIFY(!k->findChild<QPushButton *>(QStringLiteral("btnLock"))->isEnabled());
        QVERIFY(k->findChild<QPushButton *>(QStringLiteral("btnManual"))->isVisibleTo(k));

        // Traffic on the link lights an arrow that the animation greys again.
        emit linker->TransferBusy(1);
        QVERIFY(k->arrowWorker()->countdown(1) > 0);
        QTRY_COMPARE_WITH_TIMEOUT(k->arrowWorker()->countdown(1), -1, 5000);
    }

    void shutdownStopsTheLinkFirst()
    {
        QTRY_VERIFY_WITH_TIMEOUT(window->dashboard()->isVisible(), 5000);
        QPointer<KeyWindow> dashboard = window->dashboard();
        bool linkerGoneWhileViewsAlive = false;
        connect(linker, &QObject::destroyed, this,
                [&] { linkerGoneWhileViewsAlive = !dashboard.isNull(); });
        window.reset();
        QVERIFY(linkerGoneWhileViewsAlive);
        QVERIFY(dashboard.isNull());
        // The linker's last disconnect request reached the key before the link stopped.
        QVERIFY(key->snapshot().contains(bytes({0x01, 0x01, 0x1B, 0x04, 0x00, 0x01, 0x00})));
    }

    void sessionEndSaysGoodbyeAtOnce()
    {
        QTRY_VERIFY_WITH_TIMEOUT(window->dashboard()->isVisible(), 5000);
        const QByteArray goodbye = bytes({0x01, 0x01, 0x1B, 0x04, 0x00, 0x01, 0x00});
        QVERIFY(!key->snapshot().contains(goodbye));
        endWithSession(qApp, window.get());
        // Logging off on Windows: the application's last signal, sent from inside the
        // event loop, which the process may not leave alive.
        const int aboutToQuit = QCoreApplication::staticMetaObject.indexOfSignal("aboutToQuit()");
        qApp->qt_metacall(QMetaObject::InvokeMetaMethod, aboutToQuit, nullptr);
        QVERIFY(key->snapshot().contains(goodbye));
    }
};

QTEST_MAIN(WiringTest)
#include "tst_wiring.moc"
