#include "fake_usb_device.h"
#include "frame_assembler.h"
#include "frame_test_util.h"
#include "link_collector.h"
#include "usb_link.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

const uint8_t *data(const QByteArray &bytes)
{
    return reinterpret_cast<const uint8_t *>(bytes.constData());
}

struct Rig
{
    Rig()
    {
        auto device = std::make_unique<FakeUsbDevice>();
        script = device->script();
        link = std::make_unique<usbLink>(std::move(device));
        collector = std::make_unique<Collector>(link.get());
    }
    void attach()
    {
        link->start();
        QTRY_COMPARE_WITH_TIMEOUT(collector->connections, QList<bool> {true}, 3000);
    }
    std::shared_ptr<FakeUsbDevice::Script> script;
    std::unique_ptr<usbLink> link;
    std::unique_ptr<Collector> collector;
};

} // namespace

class TestUsbLink : public QObject
{
    Q_OBJECT
private slots:
    void sendAddsFillerAfterWholePackets();
    void sendResults();
    void framedSendWritesPieces();
    void failedPieceGivesUpTheFrame();
    void writesNeverWaitForAStalledKey();
    void haltedOrCutWriteLosesOneFrameOnly();
    void receivesPayloads();
    void damagedFrameKeepsLink();
    void twoFramesAndSplitFrame();
    void unplugAndReplugReportedOnce();
    void permissionProblemReportedOnce();
    void stopUnblocksPendingRead();
    void singleInstance();
};

void TestUsbLink::sendAddsFillerAfterWholePackets()
{
    Rig rig;
    rig.attach();
    for (int frameLength : {63, 64, 65, 128}) {
        const QByteArray payload = payloadForFrameLength(frameLength);
        QVERIFY2(!payload.isEmpty(), "no payload of that frame length");
        const int before = rig.script->writes().size();
        QCOMPARE(rig.link->send(data(payload), payload.size()), 1);
        QVERIFY(rig.link->writer().flush(2000));
        const QList<QByteArray> writes = rig.script->writes().mid(before);
        const bool filler = frameLength % 64 == 0;
        QCOMPARE(writes.size(), filler ? 2 : 1);
        QCOMPARE(writes.first(), encodeFrame(payload));
        if (filler)
            QCOMPARE(writes.last(), QByteArray(1, 0x30));
    }
}

void TestUsbLink::sendResults()
{
    Rig rig;
    const QByteArray payload("abc");
    // Not attached yet: nothing written.
    QCOMPARE(rig.link->send(data(payload), payload.size()), -1);
    QCOMPARE(rig.link->framedSend(data(payload), payload.size()), -1);
    QVERIFY(rig.script->writes().isEmpty());

    // A slow search does not hold up a send that has nothing to send to.
    rig.script->setReconnectFails(true);
    rig.script->setReconnectDelay(800);
    rig.link->start();
    QTRY_VERIFY(rig.script->reconnectCount() >= 1);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(rig.link->send(data(payload), payload.size()), -1);
    QVERIFY2(timer.elapsed() < 700, qPrintable(QString::number(timer.elapsed())));
    rig.script->setReconnectDelay(0);
    rig.script->setReconnectFails(false);
    QTRY_COMPARE_WITH_TIMEOUT(rig.collector->connections, QList<bool> {true}, 4000);

    // A write that fails after queueing shows in the writer's counts.
    rig.script->setWritesFail(true);
    QCOMPARE(rig.link->send(data(payload), payload.size()), int(usbLink::Queued));
    QVERIFY(rig.link->writer().flush(2000));
    QCOMPARE(rig.link->writer().stats().failed, uint64_t(1));
    rig.script->setWritesFail(false);
    // More than the largest payload would overrun the frame buffer: refused.
    const QByteArray huge(usbLink::kMaxPayload + 1, 'x');
    QCOMPARE(rig.link->send(data(huge), huge.size()), 0);
    QCOMPARE(rig.link->framedSend(data(huge), huge.size()), 0);
    const QByteArray largest(usbLink::kMaxPayload, 0x7E);
    QCOMPARE(rig.link->send(data(largest), largest.size()), 1);
    QVERIFY(rig.link->writer().flush(2000));
    QCOMPARE(rig.script->writes(), QList<QByteArray> {encodeFrame(largest)});
}

void TestUsbLink::framedSendWritesPieces()
{
    Rig rig;
    rig.attach();
    const QByteArray payload = payloadForFrameLength(130);
    QVERIFY(!payload.isEmpty());
    QCOMPARE(rig.link->framedSend(data(payload), payload.size()), 1);
    QVERIFY(rig.link->writer().flush(2000));
    const QList<QByteArray> writes = rig.script->writes();
    QCOMPARE(writes.size(), 3);
    QCOMPARE(writes[0].size(), 63);
    QCOMPARE(writes[1].size(), 63);
    QCOMPARE(writes[2].size(), 4);
    QCOMPARE(writes[0] + writes[1] + writes[2], encodeFrame(payload));

    // A frame of exactly 64 bytes: 63 + 1, and no filler byte.
    const QByteArray p64 = payloadForFrameLength(64);
    QCOMPARE(rig.link->framedSend(data(p64), p64.size()), 1);
    QVERIFY(rig.link->writer().flush(2000));
    const QList<QByteArray> more = rig.script->writes().mid(3);
    QCOMPARE(more.size(), 2);
    QCOMPARE(more[0] + more[1], encodeFrame(p64));
}

void TestUsbLink::failedPieceGivesUpTheFrame()
{
    Rig rig;
    rig.attach();
    // The first piece fails: the key could make nothing of the other two.
    rig.script->failNextWrites(1);
    const QByteArray payload = payloadForFrameLength(130);
    QCOMPARE(rig.link->framedSend(data(payload), payload.size()), 1);
    QCOMPARE(rig.link->framedSend(data(payload), payload.size()), 1);
    QVERIFY(rig.link->writer().flush(2000));
    QCOMPARE(rig.script->writes().size(), 3);
    QCOMPARE(rig.script->writes().join(), encodeFrame(payload));
    QCOMPARE(rig.link->writer().stats().failed, uint64_t(1));
}

void TestUsbLink::writesNeverWaitForAStalledKey()
{
    Rig rig;
    rig.attach();
    // Stalled until the test lets go: a send that waited for the pipe would hang here.
    rig.script->setWriteStall(true, 600000);
    QList<QByteArray> expected;
    const int attempts = KeyWriter::kMaxFrames + 10;
    for (int i = 0; i < attempts; ++i) {
        const QByteArray payload = "frame " + QByteArray::number(i);
        if (rig.link->send(data(payload), payload.size()) == usbLink::Queued)
            expected << encodeFrame(payload);
    }
    // The queue holds what fits; the rest is refused and counted.
    QCOMPARE(rig.link->writer().stats().dropped, uint64_t(attempts - expected.size()));
    QVERIFY(expected.size() >= KeyWriter::kMaxFrames && expected.size() < attempts);
    rig.script->setWriteStall(false);
    QVERIFY(rig.link->writer().flush(5000));
    QCOMPARE(rig.script->writes(), expected);
}

void TestUsbLink::haltedOrCutWriteLosesOneFrameOnly()
{
    Rig rig;
    rig.attach();
    const QByteArray lost("lost"), cut("cut short"), one("one"), two("two");
    rig.script->haltOut();
    QCOMPARE(rig.link->send(data(lost), lost.size()), 1);
    QCOMPARE(rig.link->send(data(one), one.size()), 1);
    QVERIFY(rig.link->writer().flush(3000));
    // A time-out after the first bytes of a paced frame went out.
    rig.script->cutNextWrite(3);
    QCOMPARE(rig.link->framedSend(data(cut), cut.size()), 1);
    QCOMPARE(rig.link->send(data(two), two.size()), 1);
    QVERIFY(rig.link->writer().flush(3000));

    // The key, reading all it got, finds the two whole frames; the pipe was
    // reset after each failure and the key never reported lost.
    const QByteArray all = rig.script->writes().join();
    FrameAssembler key;
    QCOMPARE(key.feed(data(all), all.size()).toList(), (QList<QByteArray> {one, two}));
    QCOMPARE(rig.script->outResets(), 2);
    QCOMPARE(rig.link->writer().stats().failed, uint64_t(2));
    QCOMPARE(rig.collector->connections, QList<bool> {true});
}

void TestUsbLink::receivesPayloads()
{
    Rig rig;
    rig.attach();
    rig.script->feed(QByteArray("\x7E\x00\x00\x7E", 4));
    QTRY_COMPARE(rig.collector->payloads.size(), 1);
    QCOMPARE(rig.collector->payloads.first(), QByteArray());
    rig.script->feed(QByteArray()); // a read of zero bytes changes nothing
    rig.script->feed(encodeFrame("status"));
    QTRY_COMPARE(rig.collector->payloads.size(), 2);
    QCOMPARE(rig.collector->payloads.last(), QByteArray("status"));
    QCOMPARE(rig.collector->connections, QList<bool> {true});
}

void TestUsbLink::damagedFrameKeepsLink()
{
    Rig rig;
    rig.attach();
    QByteArray bad = encodeFrame("broken");
    bad[2] = static_cast<char>(bad[2] ^ 0x40);
    rig.script->feed(bad);
    rig.script->feed(encodeFrame("fine"));
    QTRY_COMPARE(rig.collector->payloads.size(), 1);
    QCOMPARE(rig.collector->payloads.first(), QByteArray("fine"));
    QVERIFY(rig.link->isConnected());
    QCOMPARE(rig.collector->connections, QList<bool> {true});
    QCOMPARE(rig.script->reconnectCount(), 1);
}

void TestUsbLink::twoFramesAndSplitFrame()
{
    Rig rig;
    rig.attach();
    rig.script->feed(encodeFrame("one") + QByteArray(1, 0x30) + encodeFrame("two"));
    const QByteArray split = encodeFrame(QByteArray(300, 0x7E));
    rig.script->feed(split.left(200));
    rig.script->feed(split.mid(200) + encodeFrame("four"));
    QTRY_COMPARE(rig.collector->payloads.size(), 4);
    QCOMPARE(rig.collector->payloads,
             (QList<QByteArray> {"one", "two", QByteArray(300, 0x7E), "four"}));
}

void TestUsbLink::unplugAndReplugReportedOnce()
{
    Rig rig;
    rig.attach();
    QVERIFY(rig.script->waitForPendingRead(2000));
    rig.script->unplug();
    QTRY_COMPARE(rig.collector->connections, (QList<bool> {true, false}));
    QVERIFY(!rig.link->isConnected());
    const QByteArray payload("x");
    QCOMPARE(rig.link->send(data(payload), 1), -1);
    // Searching goes on while the key is away, without repeating the report.
    const int attempts = rig.script->reconnectCount();
    QTRY_VERIFY_WITH_TIMEOUT(rig.script->reconnectCount() >= attempts + 1, 2500);
    QCOMPARE(rig.collector->connections, (QList<bool> {true, false}));

    rig.script->replug();
    // About a second: one search interval, with room for a loaded machine.
    QTRY_COMPARE_WITH_TIMEOUT(rig.collector->connections, (QList<bool> {true, false, true}), 2500);
    // A read failure without unplugging is a loss too.
    QVERIFY(rig.script->waitForPendingRead(2000));
    rig.script->failRead();
    QTRY_COMPARE_WITH_TIMEOUT(rig.collector->connections,
                              (QList<bool> {true, false, true, false, true}), 3000);
    QTest::qWait(300);
    QCOMPARE(rig.collector->connections.size(), 5);
}

void TestUsbLink::permissionProblemReportedOnce()
{
    Rig rig;
    rig.script->setPermissionDenied(QStringLiteral("/dev/bus/usb/003/007"));
    rig.link->start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.collector->deniedNodes,
                              QStringList {QStringLiteral("/dev/bus/usb/003/007")}, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(rig.script->reconnectCount() >= 3, 4000);
    QCOMPARE(rig.collector->deniedNodes.size(), 1);
    // Asked for while a search is under way: answered without waiting for it.
    rig.script->holdReconnects(true);
    const int searches = rig.script->reconnectCount();
    QTRY_VERIFY_WITH_TIMEOUT(rig.script->reconnectCount() > searches, 3000);
    QCOMPARE(rig.link->permissionProblemNode(), QStringLiteral("/dev/bus/usb/003/007"));
    rig.script->holdReconnects(false);
    QVERIFY(rig.collector->connections.isEmpty());
    rig.script->setPermissionDenied(QString());
    QTRY_COMPARE_WITH_TIMEOUT(rig.collector->connections, QList<bool> {true}, 2000);
    QVERIFY(rig.link->permissionProblemNode().isEmpty());
}

void TestUsbLink::stopUnblocksPendingRead()
{
    {
        Rig rig;
        rig.attach();
        QVERIFY(rig.script->waitForPendingRead(2000));
        QElapsedTimer timer;
        timer.start();
        rig.link->stop();
        QVERIFY(rig.link->isFinished());
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        // The key still gets a last message after the thread has ended.
        const QByteArray bye("bye");
        QCOMPARE(rig.link->send(data(bye), bye.size()), 1);
        QVERIFY(rig.link->writer().flush(2000));
        QCOMPARE(rig.script->writes(), QList<QByteArray> {encodeFrame(bye)});
        QCoreApplication::processEvents();
        QCOMPARE(rig.collector->connections, QList<bool> {true});
    }
    {
        // Stopping while searching does not wait out the search interval.
        Rig rig;
        rig.script->setReconnectFails(true);
        rig.link->start();
        QTRY_VERIFY(rig.script->reconnectCount() >= 1);
        QElapsedTimer timer;
        timer.start();
        rig.link->stop();
        QVERIFY2(timer.elapsed() < 900, qPrintable(QString::number(timer.elapsed())));
    }
}

void TestUsbLink::singleInstance()
{
    auto device = std::make_unique<FakeUsbDevice>();
    auto script = device->script();
    usbLink *link = usbLink::createInstance(std::move(device));
    QVERIFY(link);
    QCOMPARE(usbLink::get(), link);
    // A second creation keeps the first instance and its device.
    QCOMPARE(usbLink::createInstance(std::make_unique<FakeUsbDevice>()), link);
    Collector collector(link);
    link->start();
    QTRY_COMPARE(collector.connections, QList<bool> {true});
    QVERIFY(script->waitForPendingRead(2000));
    QElapsedTimer timer;
    timer.start();
    usbLink::destroyInstance(); // stops the running thread and frees it
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    usbLink::destroyInstance(); // harmless without an instance
    usbLink *again = usbLink::createInstance(std::make_unique<FakeUsbDevice>());
    QVERIFY(again);
    QVERIFY(!again->isRunning());
    usbLink::destroyInstance();
}

QTEST_GUILESS_MAIN(TestUsbLink)
#include "tst_usb_link.moc"
