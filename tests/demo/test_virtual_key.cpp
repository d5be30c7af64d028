// The virtual key's behaviour and command language, without USB: what the key
// sends for each request of the program, and how scenarios wait and fail.
#include "frame_codec.h"
#include "key_commands.h"
#include "key_link.h"
#include "key_messages.h"
#include "kmsg.h"
#include "virtual_key.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

class RecordingLink : public KeyLink
{
public:
    void sendMessage(const QByteArray &message) override { sent.append(message); }
    QList<QByteArray> sent;
};

class FakePlug : public KeyPlug
{
public:
    bool plug() override { return in = true; }
    void unplug() override { in = false; }
    bool plugged() const override { return in; }
    bool in = false;
};

std::unique_ptr<KMsg> parse(const QByteArray &bytes)
{
    return KMsg::parse(reinterpret_cast<const uint8_t *>(bytes.constData()), bytes.size());
}

const KTag *findTag(KMsg &msg, uint8_t id)
{
    msg.first();
    while (const KTag *t = msg.next()) {
        if (t->id() == id)
            return t;
    }
    return nullptr;
}

QString text(const KTag *tag)
{
    char buf[1025] = {};
    return tag && tag->getString(buf, sizeof buf) ? QString::fromUtf8(buf) : QString();
}

QByteArray value(const KTag *tag)
{
    return tag ? QByteArray(reinterpret_cast<const char *>(tag->data()), tag->len()) : QByteArray();
}

// Requests as the program sends them, with the filler byte after the message.
const QByteArray connectRequest = QByteArray::fromHex("01011a0200040000000000");
const QByteArray scanRequest = QByteArray::fromHex("0101130500000a");
const QByteArray openRequest = QByteArray::fromHex("01011505000000");
const QByteArray transferRequest = QByteArray::fromHex("00012100000000");
const QByteArray disconnectRequest = QByteArray::fromHex("01011b05000000");

QList<int> keyBars(const QList<QByteArray> &sent)
{
    QList<int> bars;
    for (const QByteArray &m : sent) {
        auto msg = parse(m);
        if (const KTag *t = msg ? findTag(*msg, TAG_KEY_BAR) : nullptr)
            bars << t->getUInt8();
    }
    return bars;
}

} // namespace

class VirtualKeyTest : public QObject
{
    Q_OBJECT

private slots:
    void connectRequestIsAnsweredWithTheWholeIdentity()
    {
        RecordingLink link;
        VirtualKey key(&link);
        key.identity().servicePort = 40123;
        key.identity().relayHost = "10.213.77.2";
        key.hostMessage(connectRequest);
        QCOMPARE(link.sent.size(), 1);
        auto msg = parse(link.sent.first());
        QVERIFY(msg);
        QCOMPARE(int(msg->type()), int(MSG_SET));
        QCOMPARE(findTag(*msg, TAG_SERIAL)->getUInt32(), key.identity().serial);
        QCOMPARE(text(findTag(*msg, TAG_SW)), QString("1.6.3"));
        QVERIFY(!text(findTag(*msg, TAG_BOX)).isEmpty());
        QVERIFY(!text(findTag(*msg, TAG_HW)).isEmpty());
        QCOMPARE(text(findTag(*msg, TAG_SERVER)), QString("10.213.77.2"));
        QCOMPARE(int(findTag(*msg, TAG_PORT)->getUInt16()), 5077);
        QCOMPARE(text(findTag(*msg, TAG_SERVICE)), QString("127.0.0.1"));
        QCOMPARE(int(findTag(*msg, TAG_SERVICE_PORT)->getUInt16()), 40123);
        QVERIFY(findTag(*msg, TAG_BATTERY));
        QVERIFY(findTag(*msg, TAG_MODE));
        QVERIFY(findTag(*msg, TAG_TRANS_COUNT));
        // The key bar comes last, so the dashboard ends in "READY".
        QCOMPARE(int(msg->at(msg->count() - 1)->id()), int(TAG_KEY_BAR));
        QCOMPARE(int(msg->at(msg->count() - 1)->getUInt8()), 128);

        // Three label lines, each index followed by its text and colour.
        int labels = 0;
        for (int i = 0; i + 2 < msg->count(); ++i) {
            if (msg->at(i)->id() == TAG_LABEL_INDEX) {
                QCOMPARE(int(msg->at(i)->getUInt8()), labels);
                QCOMPARE(int(msg->at(i + 1)->id()), int(TAG_LABEL_TEXT));
                QCOMPARE(int(msg->at(i + 2)->id()), int(TAG_LABEL_COLOR));
                ++labels;
            }
        }
        QCOMPARE(labels, 3);
        // The program reads one frame of at most 1024 bytes.
        QVERIFY(keymsg::frame(link.sent.first()).size() <= 1024);
    }

    void framesCarryTheMessageAndAFiller()
    {
        const QByteArray message = QByteArray::fromHex("00020b0400018"
                                                       "00c0400015a");
        const QByteArray frame = keymsg::frame(message);
        QByteArray content(frame.size(), '\0');
        const int m = frameDecode(reinterpret_cast<const uint8_t *>(frame.constData()),
                                  frame.size(), reinterpret_cast<uint8_t *>(content.data()));
        QVERIFY(frameCheck(reinterpret_cast<const uint8_t *>(content.constData()), m));
        QCOMPARE(content.left(m - 2), message + QByteArray(1, '\0'));
    }

    void scansWalkTheTagListAndWrap()
    {
        RecordingLink link;
        VirtualKey key(&link);
        key.setRfids({QByteArray::fromHex("04a31f"), QByteArray(4, '\0')});
        QSignalSpy events(&key, &VirtualKey::keyEvent);
        for (int i = 0; i < 3; ++i)
            key.hostMessage(scanRequest);
        QCOMPARE(link.sent.size(), 3);
        QList<QByteArray> scanned;
        for (const QByteArray &m : link.sent) {
            auto msg = parse(m);
            QVERIFY(msg);
            scanned << value(findTag(*msg, TAG_SCAN));
        }
        QCOMPARE(scanned,
                 (QList<QByteArray> {QByteArray::fromHex("04a31f"), QByteArray(4, '\0'),
                                     QByteArray::fromHex("04a31f")}));
        QCOMPARE(events.first().at(0).toString(), QString("scan-request"));
    }

    void openRunsTheBarToHundredThenReady()
    {
        RecordingLink link;
        VirtualKey key(&link);
        key.setStepInterval(1);
        QSignalSpy events(&key, &VirtualKey::keyEvent);
        key.hostMessage(openRequest);
        QTRY_VERIFY(keyBars(link.sent).contains(128));
        QCOMPARE(keyBars(link.sent),
                 (QList<int> {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 128}));
        QCOMPARE(key.keyBar(), 128);
    }

    void transferRunsAboveHundredTwentyEightAndCounts()
    {
        RecordingLink link;
        VirtualKey key(&link);
        key.setStepInterval(1);
        key.setTransferCount(41);
        link.sent.clear();
        key.hostMessage(transferRequest);
        QTRY_COMPARE(key.transferCount(), 42u);
        const QList<int> bars = keyBars(link.sent);
        QCOMPARE(bars.first(), 129);
        QCOMPARE(bars.last(), 228);
        for (int b : bars)
            QVERIFY(b > 128 && b <= 228);
        auto last = parse(link.sent.last());
        QCOMPARE(findTag(*last, TAG_TRANS_COUNT)->getUInt32(), 42u);
    }

    void relayRoundTrip()
    {
        RecordingLink link;
        VirtualKey key(&link);
        QSignalSpy events(&key, &VirtualKey::keyEvent);
        key.requestRelayOpen();
        auto open = parse(link.sent.last());
        QCOMPARE(int(open->type()), int(MSG_REQUEST));
        QVERIFY(findTag(*open, TAG_CONNECT));

        key.hostMessage(QByteArray::fromHex("00011a05000000")); // link open
        QVERIFY(key.relayOpen());
        key.sendRelayPayload("ping");
        auto data = parse(link.sent.last());
        QCOMPARE(int(data->type()), int(MSG_DATA));
        QCOMPARE(value(data->at(0)), QByteArray("ping"));

        key.hostMessage(QByteArray::fromHex("05012505000800000001") + "ping" + '\0');
        QCOMPARE(key.relayReceived().size(), 1);
        QCOMPARE(key.relayReceived().first().mid(4), QByteArray("ping"));

        key.hostMessage(QByteArray::fromHex("00011b05000000")); // link closed
        QVERIFY(!key.relayOpen());
        QStringList names;
        for (const auto &e : events)
            names << e.at(0).toString();
        QCOMPARE(names, (QStringList {"relay-open", "relay-data", "relay-closed"}));

        // A payload too large for one message is refused, not truncated.
        const int before = link.sent.size();
        key.sendRelayPayload(QByteArray(1019, 'x'));
        QCOMPARE(link.sent.size(), before);
        QCOMPARE(events.last().at(0).toString(), QString("error"));
        key.sendRelayPayload(QByteArray(1018, 'x'));
        QCOMPARE(link.sent.size(), before + 1);
    }

    void timeQueryAndItsAnswer()
    {
        RecordingLink link;
        VirtualKey key(&link);
        key.queryTime();
        auto q = parse(link.sent.last());
        QCOMPARE(int(q->type()), int(MSG_REQUEST));
        QCOMPARE(int(q->at(q->count() - 1)->id()), int(TAG_QUERY_END));

        QSignalSpy events(&key, &VirtualKey::keyEvent);
        KMsg answer(MSG_SET);
        answer.add<KTagUInt32>(TAG_TIME, 1577836800u);
        answer.add<KTagUInt32>(TAG_QUERY_END, 0xFFFFFFFFu);
        key.hostMessage(keymsg::bytes(answer));
        QCOMPARE(events.size(), 2);
        QCOMPARE(events.at(0).at(0).toString(), QString("time"));
        QVERIFY(events.at(0).at(1).toString().startsWith("1577836800"));
        QCOMPARE(events.at(1).at(1).toString(), QString("17=ffffffff"));
    }

    void disconnectIsAcknowledgedAndGarbageIgnored()
    {
        RecordingLink link;
        VirtualKey key(&link);
        QSignalSpy events(&key, &VirtualKey::keyEvent);
        key.hostMessage(disconnectRequest);
        auto ack = parse(link.sent.last());
        QCOMPARE(int(ack->type()), int(MSG_SET));
        QVERIFY(findTag(*ack, TAG_DISCONNECT));

        const int sent = link.sent.size();
        for (const QByteArray &junk : {QByteArray(), QByteArray("\x01"), QByteArray("\x01\x05zz"),
                                       QByteArray::fromHex("0102130500")})
            key.hostMessage(junk);
        QCOMPARE(link.sent.size(), sent);
        QCOMPARE(events.last().at(0).toString(), QString("bad-message"));
    }

    void commandsDriveTheKey()
    {
        RecordingLink link;
        FakePlug plug;
        VirtualKey key(&link);
        KeyCommands commands(key, &plug);
        QSignalSpy out(&commands, &KeyCommands::output);
        commands.addLines({"plug", "battery 42", "manual on", "label 1 red Hello world",
                           "relay burst 3", "bogus", "battery 300"});
        QVERIFY(plug.plugged());
        QCOMPARE(key.battery(), 42);
        QCOMPARE(key.mode() & 1, 1);
        QCOMPARE(commands.failures(), 2);

        // battery, mode, label and three payloads went out
        QCOMPARE(link.sent.size(), 6);
        auto label = parse(link.sent.at(2));
        QCOMPARE(text(findTag(*label, TAG_LABEL_TEXT)), QString("Hello world"));
        QCOMPARE(text(findTag(*label, TAG_LABEL_COLOR)), QString("red"));
        QCOMPARE(value(parse(link.sent.last())->at(0)), QByteArray("burst-3"));
        QVERIFY(out.last().at(0).toString().startsWith("fail: battery 300"));
    }

    void expectMatchesEarlierEventsInOrder()
    {
        RecordingLink link;
        VirtualKey key(&link);
        KeyCommands commands(key, nullptr);
        QSignalSpy drained(&commands, &KeyCommands::drained);
        key.hostMessage(scanRequest);
        key.hostMessage(scanRequest);
        // Both scans happened before the lines were read; each line takes one.
        commands.addLines({"expect scan-request 0.1", "expect scan-request 0.1"});
        QCOMPARE(commands.failures(), 0);
        QVERIFY(!commands.busy());

        commands.addLine("expect scan-request 0.05");
        QVERIFY(commands.busy());
        QTRY_VERIFY(!commands.busy());
        QCOMPARE(commands.failures(), 1);

        // Waiting is ended by an event that arrives later.
        commands.addLine("expect connect-request 5");
        QVERIFY(commands.busy());
        key.hostMessage(connectRequest);
        QVERIFY(!commands.busy());
        QCOMPARE(commands.failures(), 1);

        // Expect with a detail text skips events whose detail does not match.
        commands.noteEvent("program-exited", "3");
        commands.addLine("expect program-exited 0.05 0");
        QTRY_VERIFY(!commands.busy());
        QCOMPARE(commands.failures(), 2);
        QVERIFY(drained.size() >= 1);
    }

    void scenarioStopsAtTheFirstFailure()
    {
        RecordingLink link;
        FakePlug plug;
        VirtualKey key(&link);
        KeyCommands commands(key, &plug);
        commands.setStopOnFailure(true);
        QSignalSpy drained(&commands, &KeyCommands::drained);
        commands.addLines({"expect never 0.02", "plug"});
        QTRY_COMPARE(drained.size(), 1);
        QVERIFY(commands.stopped());
        QVERIFY(!plug.plugged());
    }
};

QTEST_GUILESS_MAIN(VirtualKeyTest)
#include "test_virtual_key.moc"
