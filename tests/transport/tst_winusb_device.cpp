#include "fake_winusb_calls.h"
#include "frame_assembler.h"
#include "frame_test_util.h"
#include "link_collector.h"
#include "usb_link.h"
#include "winusb_device.h"

#include <QElapsedTimer>
#include <QtTest>

#include <future>

namespace {

const std::u16string kFirstPath
        = u"\\\\?\\usb#vid_0000&pid_0000#first#{42ca71ec-ce1c-44c2-82de-87d8d8ff6c1e}";
const std::u16string kSecondPath
        = u"\\\\?\\usb#vid_0000&pid_0000#second#{42ca71ec-ce1c-44c2-82de-87d8d8ff6c1e}";

struct Rig
{
    Rig()
    {
        auto owned = std::make_unique<FakeWinUsbCalls>();
        fake = owned.get();
        device = std::make_unique<WinUsbDevice>(std::move(owned));
    }
    int read(QByteArray &out)
    {
        uint8_t buffer[1024];
        const int n = device->readPipe(buffer, sizeof buffer);
        out = QByteArray(reinterpret_cast<const char *>(buffer), std::max(n, 0));
        return n;
    }
    int write(const QByteArray &bytes)
    {
        return device->writePipe(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                 bytes.size());
    }
    FakeWinUsbCalls *fake;
    std::unique_ptr<WinUsbDevice> device;
};

} // namespace

class TestWinUsbDevice : public QObject
{
    Q_OBJECT
private slots:
    void opensFirstPresentKey();
    void refusesUnusableKeys();
    void keyHeldByAnotherProgram();
    void readsWritesAndRecoversFromStall();
    void pendingReadEndsOnUnplugAndStop();
    void linkAttachesWhenKeyArrives();
    void linkRecoversOutPipe();
    void linkStopIsBoundedWithKeyTakingNoData();
    void linkLetsGoWhenWindowsRemovesKey();
};

void TestWinUsbDevice::opensFirstPresentKey()
{
    Rig rig;
    QVERIFY(!rig.device->reconnect());
    rig.fake->plug(FakeWinUsbCalls::standardKey(kFirstPath));
    rig.fake->plug(FakeWinUsbCalls::standardKey(kSecondPath));
    QVERIFY(rig.device->reconnect());
    const UsbDeviceRecord &record = rig.device->current();
    QCOMPARE(record.devicePath, QString::fromStdU16String(kFirstPath));
    QCOMPARE(record.dataInterface, 1);
    QCOMPARE(record.bulkIn, uint8_t(0x81));
    QCOMPARE(record.bulkOut, uint8_t(0x01));
    QCOMPARE(record.interruptPipe, uint8_t(0x82));

    // The first goes; the second is found on the next attempt.
    rig.fake->unplug();
    QVERIFY(rig.device->reconnect());
    QCOMPARE(rig.device->current().devicePath, QString::fromStdU16String(kSecondPath));
    rig.fake->unplug();
    QVERIFY(!rig.device->reconnect());
    QCOMPARE(rig.fake->held(), 0);
}

void TestWinUsbDevice::refusesUnusableKeys()
{
    // Paths of 255 UTF-16 units fit the record; 256 do not.
    const std::u16string prefix = u"\\\\?\\usb#";
    FakeWinUsbCalls::Key longest
            = FakeWinUsbCalls::standardKey(prefix + std::u16string(255 - prefix.size(), u'a'));
    FakeWinUsbCalls::Key tooLong
            = FakeWinUsbCalls::standardKey(prefix + std::u16string(256 - prefix.size(), u'a'));
    FakeWinUsbCalls::Key noBulkIn = FakeWinUsbCalls::standardKey(kFirstPath);
    noBulkIn.interfaces[1].pipes
            = {{winusb::PipeInterrupt, 0x83, 8, 10}, {winusb::PipeBulk, 0x01, 64, 0}};
    FakeWinUsbCalls::Key unqueryable = FakeWinUsbCalls::standardKey(kFirstPath);
    unqueryable.interfaces[1].settingsFail = true;
    unqueryable.interfaces[2].settingsFail = true;

    const struct
    {
        const char *what;
        FakeWinUsbCalls::Key key;
        bool opens;
    } cases[] = {{"255-unit path", longest, true},
                 {"256-unit path", tooLong, false},
                 {"no bulk IN pipe", noBulkIn, false},
                 {"interfaces cannot be queried", unqueryable, false}};
    for (const auto &c : cases) {
        Rig rig;
        rig.fake->plug(c.key);
        QVERIFY2(rig.device->reconnect() == c.opens, c.what);
        QVERIFY2(rig.device->current().opened == c.opens, c.what);
        if (!c.opens)
            QVERIFY2(rig.fake->held() == 0, c.what);
        QVERIFY2(rig.device->accessProblem().isEmpty(), c.what);
    }
}

void TestWinUsbDevice::keyHeldByAnotherProgram()
{
    Rig rig;
    rig.fake->plug(FakeWinUsbCalls::standardKey(kFirstPath));
    const QString path = QString::fromStdU16String(kFirstPath);

    rig.fake->setOpenError(winusb::kErrorSharingViolation);
    QVERIFY(!rig.device->reconnect());
    QCOMPARE(rig.device->permissionProblem(), path);
    QVERIFY(rig.device->accessProblem().hint.contains(QLatin1String("another program")));
    QVERIFY(rig.device->accessProblem().detail.contains(path));
    QCOMPARE(rig.fake->held(), 0);

    rig.fake->setOpenError(winusb::kErrorAccessDenied);
    QVERIFY(!rig.device->reconnect());
    QCOMPARE(rig.device->permissionProblem(), path);
    QVERIFY(rig.device->accessProblem().hint.contains(QLatin1String("Windows denies access")));
    QVERIFY(!rig.device->accessProblem().hint.contains(QLatin1String("udev")));

    // The other program lets go: the next attempt opens the key.
    rig.fake->setOpenError(winusb::kSuccess);
    QVERIFY(rig.device->reconnect());
    QVERIFY(rig.device->accessProblem().isEmpty());
}

void TestWinUsbDevice::readsWritesAndRecoversFromStall()
{
    Rig rig;
    rig.fake->plug(FakeWinUsbCalls::standardKey(kFirstPath));
    QVERIFY(rig.device->reconnect());

    QByteArray got;
    rig.fake->feed("one");
    QCOMPARE(rig.read(got), 3);
    QCOMPARE(got, QByteArray("one"));
    QCOMPARE(rig.write("abc"), 3);
    QCOMPARE(rig.fake->writes(), QList<QByteArray> {"abc"});

    // A halted IN pipe stalls a pending read: the pipe is reset, the key stays.
    auto pending = std::async(std::launch::async, [&rig] {
        QByteArray bytes;
        return rig.read(bytes);
    });
    QVERIFY(rig.fake->waitForPendingRead());
    rig.fake->stallIn();
    QCOMPARE(pending.get(), 0);
    QCOMPARE(rig.fake->resets(), 1);
    rig.fake->feed("two");
    QCOMPARE(rig.read(got), 3);
    QCOMPARE(got, QByteArray("two"));

    // A key that takes no more data fails the write instead of hanging it.
    rig.fake->setTakesData(false);
    rig.fake->setWriteTimeout(50);
    QCOMPARE(rig.write("abc"), -1);
}

void TestWinUsbDevice::pendingReadEndsOnUnplugAndStop()
{
    Rig rig;
    rig.fake->plug(FakeWinUsbCalls::standardKey(kFirstPath));
    QVERIFY(rig.device->reconnect());
    const auto readInBackground = [&rig] {
        return std::async(std::launch::async, [&rig] {
            QByteArray bytes;
            return rig.read(bytes);
        });
    };

    auto pending = readInBackground();
    QVERIFY(rig.fake->waitForPendingRead());
    rig.fake->unplug();
    QCOMPARE(pending.get(), -1);
    QVERIFY(!rig.device->reconnect());
    QCOMPARE(rig.fake->held(), 0);

    rig.fake->plug(FakeWinUsbCalls::standardKey(kFirstPath));
    QVERIFY(rig.device->reconnect());
    pending = readInBackground();
    QVERIFY(rig.fake->waitForPendingRead());
    rig.device->cancelRead();
    QCOMPARE(pending.get(), -1);
    QByteArray bytes;
    rig.fake->feed("late");
    QCOMPARE(rig.read(bytes), -1);
}

void TestWinUsbDevice::linkAttachesWhenKeyArrives()
{
    auto owned = std::make_unique<FakeWinUsbCalls>();
    FakeWinUsbCalls *fake = owned.get();
    usbLink link(std::make_unique<WinUsbDevice>(std::move(owned)));
    // Only the arrival can make the search run again within the test.
    link.setSearchInterval(10 * 60 * 1000);
    Collector collector(&link);
    link.start();
    QTRY_VERIFY(fake->searchesDone() >= 1);

    fake->plug(FakeWinUsbCalls::standardKey(kFirstPath));
    fake->arrive();
    QTRY_COMPARE(collector.connections, QList<bool> {true});
    QCOMPARE(fake->searchesDone(), 2);
}

namespace {

struct LinkRig
{
    LinkRig()
    {
        auto owned = std::make_unique<FakeWinUsbCalls>();
        fake = owned.get();
        fake->plug(FakeWinUsbCalls::standardKey(kFirstPath));
        link = std::make_unique<usbLink>(std::make_unique<WinUsbDevice>(std::move(owned)));
        collector = std::make_unique<Collector>(link.get());
    }
    int send(const QByteArray &payload)
    {
        return link->send(reinterpret_cast<const uint8_t *>(payload.constData()), payload.size());
    }
    // Payloads of the good frames the key received, as its own assembler finds them.
    QList<QByteArray> keyReceived() const
    {
        FrameAssembler assembler;
        const QByteArray all = fake->writes().join();
        return assembler.feed(reinterpret_cast<const uint8_t *>(all.constData()), all.size())
                .toList();
    }
    FakeWinUsbCalls *fake;
    std::unique_ptr<usbLink> link;
    std::unique_ptr<Collector> collector;
};

} // namespace

void TestWinUsbDevice::linkRecoversOutPipe()
{
    LinkRig rig;
    rig.link->start();
    QTRY_COMPARE(rig.collector->connections, QList<bool> {true});

    // Halted OUT pipe: the command is lost, the pipe reset, the next one arrives.
    rig.fake->haltOut();
    QCOMPARE(rig.send("lost"), 1);
    QCOMPARE(rig.send("one"), 1);
    QVERIFY(rig.link->writer().flush(3000));
    QCOMPARE(rig.fake->outResets(), 1);
    QCOMPARE(rig.keyReceived(), QList<QByteArray> {"one"});

    // A time-out after part of a frame went out: the key drops the part and
    // takes the next frame whole.
    rig.fake->cutNextWrite(5);
    QCOMPARE(rig.send("cut short"), 1);
    QCOMPARE(rig.send("two"), 1);
    QVERIFY(rig.link->writer().flush(3000));
    QCOMPARE(rig.fake->outResets(), 2);
    QCOMPARE(rig.keyReceived(), (QList<QByteArray> {"one", "two"}));

    // A read of zero bytes is no loss; the key's next frame arrives.
    rig.fake->feed(QByteArray());
    rig.fake->feed(encodeFrame("status"));
    QTRY_COMPARE(rig.collector->payloads, QList<QByteArray> {"status"});

    // Writes that keep failing although reads work: the key is given up and found again.
    rig.fake->setTakesData(false);
    rig.fake->setWriteTimeout(0);
    for (int i = 0; i < usbLink::kFailedWritesBeforeLost; ++i)
        QCOMPARE(rig.send("nowhere"), 1);
    QTRY_COMPARE_WITH_TIMEOUT(rig.collector->connections, (QList<bool> {true, false, true}), 4000);
    rig.fake->setTakesData(true);
    QCOMPARE(rig.send("three"), 1);
    QVERIFY(rig.link->writer().flush(3000));
    QCOMPARE(rig.keyReceived(), (QList<QByteArray> {"one", "two", "three"}));

    const usbLink::Figures figures = rig.link->figures();
    QCOMPARE(figures.failedTransfers, uint64_t(2 + usbLink::kFailedWritesBeforeLost));
    QCOMPARE(figures.reconnects, uint64_t(1));
    QCOMPARE(figures.lostOnWrites, uint64_t(1));
    QCOMPARE(figures.framesIn, uint64_t(1));
    QCOMPARE(figures.framesOut, uint64_t(3));
}

void TestWinUsbDevice::linkStopIsBoundedWithKeyTakingNoData()
{
    LinkRig rig;
    rig.link->start();
    QTRY_COMPARE(rig.collector->connections, QList<bool> {true});
    // Every write would wait out the pipe's full time-out.
    rig.fake->setTakesData(false);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(rig.send("late " + QByteArray::number(i)), 1);
    QElapsedTimer timer;
    timer.start();
    rig.link->stop(500);
    // Well under one pipe time-out: the write in flight was aborted, the rest given up.
    QVERIFY2(timer.elapsed() < WinUsbDevice::kWriteTimeoutMs,
             qPrintable(QString::number(timer.elapsed())));
    const KeyWriter::Stats stats = rig.link->writer().stats();
    QCOMPARE(stats.failed + stats.discarded, uint64_t(5));
    QVERIFY(rig.fake->writes().isEmpty());
    // What is sent after the stop fails at once instead of waiting on the pipe.
    QCOMPARE(rig.send("after"), 1);
    QVERIFY(rig.link->writer().flush(500));
    timer.restart();
    rig.link.reset();
    QVERIFY2(timer.elapsed() < WinUsbDevice::kWriteTimeoutMs,
             qPrintable(QString::number(timer.elapsed())));
}

void TestWinUsbDevice::linkLetsGoWhenWindowsRemovesKey()
{
    LinkRig rig;
    rig.link->setSearchInterval(20);
    rig.link->start();
    QTRY_COMPARE(rig.collector->connections, QList<bool> {true});
    QVERIFY(rig.fake->waitForPendingRead());
    QVERIFY(rig.fake->removalWatched());

    // Disabled in Device Manager: the handle is closed before Windows goes on,
    // and the key, still listed while it goes, is not opened again meanwhile.
    QVERIFY(rig.fake->queryRemove());
    QTRY_COMPARE(rig.collector->connections, (QList<bool> {true, false}));
    const int searches = rig.fake->searchesDone();
    QTRY_VERIFY(rig.fake->searchesDone() >= searches + 5);
    QCOMPARE(rig.collector->connections, (QList<bool> {true, false}));

    // Enabled again: it arrives and is used at once.
    rig.fake->arrive();
    QTRY_COMPARE(rig.collector->connections, (QList<bool> {true, false, true}));
    QVERIFY(rig.fake->removalWatched());
}

QTEST_GUILESS_MAIN(TestWinUsbDevice)
#include "tst_winusb_device.moc"
