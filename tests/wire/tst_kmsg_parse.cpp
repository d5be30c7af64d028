#include "kmsg.h"

#include <QtTest>

#include <random>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace {

// Parses from a heap copy of exactly the given size, so the sanitizer build
// reports any read past the received bytes.
std::unique_ptr<KMsg> parse(const Bytes &bytes)
{
    auto copy = std::make_unique<uint8_t[]>(bytes.size() ? bytes.size() : 1);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return KMsg::parse(copy.get(), static_cast<int>(bytes.size()));
}

Bytes serialized(const KMsg &msg)
{
    Bytes out(kMsgMaxSize);
    out.resize(msg.serialize(out.data(), kMsgMaxSize));
    return out;
}

// Message of the given type and count byte followed by raw tag bytes.
Bytes raw(uint8_t type, uint8_t count, const Bytes &tags)
{
    Bytes out {type, count};
    out.insert(out.end(), tags.begin(), tags.end());
    return out;
}

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kByte5 {12, 4, 0, 1, 5}; // TAG_BATTERY = 5
const Bytes kByte7 {11, 4, 0, 1, 7}; // TAG_KEY_BAR = 7

} // namespace

class TestKMsgParse : public QObject
{
    Q_OBJECT
private slots:
    void documentedMessages()
    {
        auto set = parse(
                Bytes {0x00, 0x02, 0x0B, 0x04, 0x00, 0x01, 0x80, 0x0C, 0x04, 0x00, 0x01, 0x5A});
        QVERIFY(set);
        QCOMPARE(set->type(), uint8_t(MSG_SET));
        QCOMPARE(set->count(), 2);
        QCOMPARE(set->total(), 10);
        const KTag *bar = set->first();
        QCOMPARE(bar->id(), uint8_t(TAG_KEY_BAR));
        QCOMPARE(bar->type(), int(TYPE_UINT8));
        QCOMPARE(bar->getUInt8(), uint8_t(128));
        QCOMPARE(set->at(1)->getUInt8(), uint8_t(90));

        auto scan = parse(Bytes {0x01, 0x01, 0x13, 0x05, 0x00, 0x00});
        QVERIFY(scan);
        QCOMPARE(scan->type(), uint8_t(MSG_REQUEST));
        QCOMPARE(scan->first()->id(), uint8_t(TAG_SCAN));
        QCOMPARE(scan->first()->type(), int(TYPE_BYTES));
        QCOMPARE(scan->first()->len(), uint16_t(0));
    }

    void roundTripEveryTagType()
    {
        const uint8_t rfid[] = {0x04, 0x7E, 0x00, 0xA3};
        KMsg msg(MSG_SET);
        msg.add<KTagUInt32>(TAG_SERIAL, 0xCAFE0001u);
        msg.add<KTagString>(TAG_SERVER, "relay.example");
        msg.add<KTagUInt16>(TAG_PORT, 5001);
        msg.add<KTagUInt8>(TAG_LABEL_INDEX, 3);
        msg.add<KTagBytes>(TAG_SCAN, rfid, 4);
        msg.add<KTagNull>(TAG_TRANSFER);
        const Bytes wire = serialized(msg);
        QCOMPARE(wire.size(), size_t(2 + msg.total()));

        auto back = parse(wire);
        QVERIFY(back);
        QCOMPARE(back->count(), 6);
        QCOMPARE(back->total(), msg.total());
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(back->at(i)->id(), msg.at(i)->id());
            QCOMPARE(back->at(i)->type(), msg.at(i)->type());
            QCOMPARE(back->at(i)->len(), msg.at(i)->len());
        }
        char text[64];
        QCOMPARE(back->at(1)->getString(text, 64), 14);
        QCOMPARE(std::string(text), std::string("relay.example"));
        QCOMPARE(back->at(0)->getUInt32(), 0xCAFE0001u);
        QCOMPARE(back->at(2)->getUInt16(), uint16_t(5001));
        QCOMPARE(serialized(*back), wire);
    }

    void countByteMustMatch()
    {
        QVERIFY(!parse(raw(MSG_SET, 2, kByte5 + kByte7 + kByte5)));
        QVERIFY(!parse(raw(MSG_SET, 3, kByte5 + kByte7)));
        QVERIFY(!parse(raw(MSG_SET, 1, {})));
        QVERIFY(parse(raw(MSG_SET, 3, kByte5 + kByte7 + kByte5)));
        // Nothing but the header with count 0 is an empty message.
        auto empty = parse(raw(MSG_SET, 0, {}));
        QVERIFY(empty);
        QCOMPARE(empty->count(), 0);
    }

    void countByteComparedModulo256()
    {
        Bytes tags;
        for (int i = 0; i < 256; ++i)
            tags = tags + Bytes {1, 0, 0, 0};
        auto msg = parse(raw(MSG_SET, 0, tags));
        QVERIFY(msg);
        QCOMPARE(msg->count(), 256);
        QVERIFY(!parse(raw(MSG_SET, 255, tags)));
    }

    void trailingBytesTooShortForATag()
    {
        for (const Bytes &filler : {Bytes {0x00}, Bytes {0xFF, 0xFF}, Bytes {1, 2, 3}}) {
            auto msg = parse(raw(MSG_SET, 2, kByte5 + kByte7 + filler));
            QVERIFY(msg);
            QCOMPARE(msg->count(), 2);
            QCOMPARE(msg->at(1)->getUInt8(), uint8_t(7));
        }
    }

    void unknownTypeCodeEndsTheTags()
    {
        const Bytes type6 {0x30, 6, 0, 1, 9};
        auto msg = parse(raw(MSG_SET, 1, kByte5 + type6 + kByte7));
        QVERIFY(msg);
        QCOMPARE(msg->count(), 1);
        QVERIFY(!parse(raw(MSG_SET, 2, kByte5 + type6 + kByte7)));
        QVERIFY(!parse(raw(MSG_SET, 1, Bytes {0x30, 0xFF, 0, 0})));
    }

    void valueLengthBeyondTheBytes()
    {
        // L says 5 but only 4 value bytes arrived: no tag, and nothing read past them.
        QVERIFY(!parse(raw(MSG_DATA, 1, Bytes {37, 5, 0, 5, 1, 2, 3, 4})));
        QVERIFY(!parse(raw(MSG_DATA, 1, Bytes {37, 5, 0xFF, 0xFF})));
        auto exact = parse(raw(MSG_DATA, 1, Bytes {37, 5, 0, 4, 1, 2, 3, 4}));
        QVERIFY(exact);
        QCOMPARE(exact->first()->len(), uint16_t(4));
    }

    void stringWithoutNulIsRejected()
    {
        QVERIFY(!parse(raw(MSG_SET, 1, Bytes {1, 1, 0, 3, 'a', 'b', 'c'})));
        // A NUL after the L bytes does not count: the read is bounded by L.
        QVERIFY(!parse(raw(MSG_SET, 1, Bytes {1, 1, 0, 2, 'a', 'b', 0})));
        QVERIFY(!parse(raw(MSG_SET, 1, Bytes {1, 1, 0, 0})));
        auto ok = parse(raw(MSG_SET, 1, Bytes {1, 1, 0, 3, 'a', 'b', 0}));
        QVERIFY(ok);
        char text[8];
        QCOMPARE(ok->first()->getString(text, 8), 3);
        QCOMPARE(std::string(text), std::string("ab"));
    }

    void integerShorterThanItsWidthIsRejected()
    {
        QVERIFY(!parse(raw(MSG_SET, 1, Bytes {0, 2, 0, 3, 1, 2, 3})));
        QVERIFY(!parse(raw(MSG_SET, 1, Bytes {36, 3, 0, 1, 1})));
        QVERIFY(!parse(raw(MSG_SET, 1, Bytes {12, 4, 0, 0})));
        // The rejected tag ends the tags; earlier ones still count.
        QVERIFY(parse(raw(MSG_SET, 1, kByte5 + Bytes {12, 4, 0, 0})));
    }

    void parserAdvancesByTheValueItBuilt()
    {
        // A string whose L runs past its NUL advances by the text only, so the
        // rest of L is read as the next tag; a sender must write exact lengths.
        const Bytes tags {1, 1, 0, 7, 'h', 'i', 0, 12, 4, 0, 1, 5};
        auto msg = parse(raw(MSG_SET, 2, tags + Bytes {0}));
        QVERIFY(msg);
        QCOMPARE(msg->at(0)->len(), uint16_t(3));
        QCOMPARE(msg->at(1)->id(), uint8_t(12));
        QCOMPARE(msg->at(1)->getUInt8(), uint8_t(5));
        // Same for a null tag that claims a value.
        auto null = parse(raw(MSG_SET, 2, Bytes {33, 0, 0, 5} + kByte5));
        QVERIFY(null);
        QCOMPARE(null->at(1)->getUInt8(), uint8_t(5));
    }

    void anyMessageTypeParses()
    {
        auto msg = parse(raw(7, 1, kByte5));
        QVERIFY(msg);
        QCOMPARE(msg->type(), uint8_t(7));
    }

    void tooShortInput()
    {
        QVERIFY(!KMsg::parse(nullptr, 10));
        QVERIFY(!parse(Bytes {}));
        QVERIFY(!parse(Bytes {MSG_SET}));
        const uint8_t two[] = {0, 0};
        QVERIFY(!KMsg::parse(two, -1));
    }

    void everyPrefixIsSafe()
    {
        // Cutting a good message anywhere yields no message, never an overread.
        KMsg msg(MSG_SET);
        msg.add<KTagString>(TAG_BOX, "Box 17");
        msg.add<KTagUInt32>(TAG_SERIAL, 42);
        const Bytes big(200, 0x55);
        msg.add<KTagBytes>(TAG_SCAN, big.data(), 200);
        const Bytes wire = serialized(msg);
        for (size_t n = 0; n < wire.size(); ++n)
            QVERIFY(!parse(Bytes(wire.begin(), wire.begin() + n)));
        QVERIFY(parse(wire));
    }

    void randomInputNeverOverreads()
    {
        std::mt19937 rng(11);
        int accepted = 0;
        for (int round = 0; round < 5000; ++round) {
            Bytes input(rng() % 40);
            for (auto &b : input)
                b = static_cast<uint8_t>(rng() % 8 < 6 ? rng() % 8 : rng());
            if (auto msg = parse(input)) {
                ++accepted;
                // An accepted message never claims more than it received.
                QVERIFY(2 + msg->total() <= static_cast<int>(input.size()));
            }
        }
        QVERIFY(accepted > 0);
    }
};

QTEST_APPLESS_MAIN(TestKMsgParse)
#include "tst_kmsg_parse.moc"
