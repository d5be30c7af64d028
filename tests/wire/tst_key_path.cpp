#include "frame_codec.h"
#include "kmsg.h"

#include <QtTest>

#include <random>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A message on its way to and from the key: serialized, a filler byte added,
// framed, unframed, checked and parsed again.
class TestKeyPath : public QObject
{
    Q_OBJECT
private slots:
    void randomMessagesSurviveTheWire()
    {
        std::mt19937 rng(3);
        for (int round = 0; round < 300; ++round) {
            KMsg msg(static_cast<uint8_t>(rng() % 6));
            const int tags = 1 + static_cast<int>(rng() % 6);
            for (int i = 0; i < tags; ++i) {
                const uint8_t id = static_cast<uint8_t>(rng());
                switch (rng() % 6) {
                case 0:
                    msg.add<KTagNull>(id);
                    break;
                case 1:
                    msg.add<KTagString>(id, std::string(rng() % 70, 'a' + rng() % 26).c_str());
                    break;
                case 2:
                    msg.add<KTagUInt32>(id, static_cast<uint32_t>(rng()));
                    break;
                case 3:
                    msg.add<KTagUInt16>(id, static_cast<uint16_t>(rng()));
                    break;
                case 4:
                    msg.add<KTagUInt8>(id, static_cast<uint8_t>(rng()));
                    break;
                default: {
                    Bytes value(rng() % 160);
                    for (auto &b : value)
                        b = (rng() % 4 == 0) ? 0x7E : static_cast<uint8_t>(rng());
                    msg.add<KTagBytes>(id, value.data(), static_cast<int>(value.size()));
                }
                }
            }
            Bytes payload(kMsgMaxSize + 1);
            const int size = msg.serialize(payload.data(), kMsgMaxSize);
            QVERIFY(size > 0);
            payload[size] = 0; // filler byte after the message
            payload.resize(size + 1);

            Bytes frame(frameEncodeCapacity(size + 1));
            int frameLength = 0;
            frameEncode(payload.data(), size + 1, frame.data(), frameLength);
            Bytes content(frameLength);
            const int m = frameDecode(frame.data(), frameLength, content.data());
            QVERIFY(frameCheck(content.data(), m));
            QCOMPARE(m - 2, size + 1);

            auto back = KMsg::parse(content.data(), m - 2);
            QVERIFY(back);
            QCOMPARE(back->type(), msg.type());
            QCOMPARE(back->count(), msg.count());
            Bytes again(kMsgMaxSize);
            QCOMPARE(back->serialize(again.data(), kMsgMaxSize), size);
            QVERIFY(std::equal(again.begin(), again.begin() + size, payload.begin()));
        }
    }

    void corruptedFrameIsCaughtBeforeParsing()
    {
        KMsg msg(MSG_SET);
        msg.add<KTagUInt8>(TAG_BATTERY, 90);
        uint8_t payload[16];
        const int size = msg.serialize(payload, sizeof payload);
        uint8_t frame[frameEncodeCapacity(16)];
        int frameLength = 0;
        frameEncode(payload, size, frame, frameLength);
        frame[7] ^= 0x01; // the battery value, 90 -> 91
        uint8_t content[sizeof frame];
        const int m = frameDecode(frame, frameLength, content);
        QCOMPARE(m, size + 2);
        QVERIFY(!frameCheck(content, m));
        // Without the check the damaged value would have parsed as a good message.
        auto unchecked = KMsg::parse(content, m - 2);
        QVERIFY(unchecked);
        QCOMPARE(unchecked->first()->getUInt8(), uint8_t(91));
    }
};

QTEST_APPLESS_MAIN(TestKeyPath)
#include "tst_key_path.moc"
