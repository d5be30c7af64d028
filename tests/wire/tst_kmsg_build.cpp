#include "kmsg.h"

#include <QtTest>

#include <cstring>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace {

Bytes serialized(const KMsg &msg, int capacity = kMsgMaxSize)
{
    Bytes out(capacity + 8, 0xAA);
    const int n = msg.serialize(out.data(), capacity);
    out.resize(n);
    return out;
}

Bytes serialized(const KTag &tag)
{
    Bytes out(tag.len() + kTagHeaderSize);
    const int n = tag.serialize(out.data(), static_cast<int>(out.size()));
    out.resize(n);
    return out;
}

} // namespace

class TestKMsgBuild : public QObject
{
    Q_OBJECT
private slots:
    void documentedMessages()
    {
        KMsg set(MSG_SET);
        set.add<KTagUInt8>(TAG_KEY_BAR, 128);
        set.add<KTagUInt8>(TAG_BATTERY, 90);
        QCOMPARE(set.count(), 2);
        QCOMPARE(set.total(), 10);
        QCOMPARE(serialized(set),
                 (Bytes {0x00, 0x02, 0x0B, 0x04, 0x00, 0x01, 0x80, 0x0C, 0x04, 0x00, 0x01, 0x5A}));

        KMsg scan(MSG_REQUEST);
        scan.add<KTagBytes>(TAG_SCAN, nullptr, 0);
        QCOMPARE(serialized(scan), (Bytes {0x01, 0x01, 0x13, 0x05, 0x00, 0x00}));
    }

    void tagWireForms()
    {
        QCOMPARE(serialized(KTagNull(TAG_TRANSFER)), (Bytes {33, 0, 0, 0}));
        QCOMPARE(serialized(KTagString(TAG_BOX, "AB")), (Bytes {1, 1, 0, 3, 'A', 'B', 0}));
        QCOMPARE(serialized(KTagString(TAG_BOX, "")), (Bytes {1, 1, 0, 1, 0}));
        QCOMPARE(serialized(KTagUInt32(TAG_SERIAL, 0x12345678u)),
                 (Bytes {0, 2, 0, 4, 0x12, 0x34, 0x56, 0x78}));
        QCOMPARE(serialized(KTagUInt16(TAG_PORT, 0xBEEF)), (Bytes {36, 3, 0, 2, 0xBE, 0xEF}));
        QCOMPARE(serialized(KTagUInt8(TAG_MODE, 3)), (Bytes {45, 4, 0, 1, 3}));
        const uint8_t raw[] = {0x7E, 0x00, 0xFF};
        QCOMPARE(serialized(KTagBytes(TAG_DATA, raw, 3)), (Bytes {37, 5, 0, 3, 0x7E, 0x00, 0xFF}));

        // The length field is big-endian: 300 is 01 2C, 1000 is 03 E8.
        const Bytes big(1000, 0x11);
        QCOMPARE(serialized(KTagBytes(TAG_DATA, big.data(), 300)).at(2), uint8_t(0x01));
        QCOMPARE(serialized(KTagBytes(TAG_DATA, big.data(), 300)).at(3), uint8_t(0x2C));
        const Bytes thousand = serialized(KTagBytes(TAG_DATA, big.data(), 1000));
        QCOMPARE(thousand.size(), size_t(1004));
        QCOMPARE(thousand.at(2), uint8_t(0x03));
        QCOMPARE(thousand.at(3), uint8_t(0xE8));
    }

    void constructionLimits()
    {
        QCOMPARE(KTagUInt8(0, 0x1FF).getUInt8(), uint8_t(0xFF));
        QCOMPARE(KTagUInt8(0, 0x1FF).len(), uint16_t(1));

        const std::string t1023(1023, 'x');
        const std::string t1024(1024, 'y');
        QCOMPARE(KTagString(0, t1023.c_str()).len(), uint16_t(1024));
        const KTagString cut(0, t1024.c_str());
        QCOMPARE(cut.len(), uint16_t(1024));
        QCOMPARE(cut.data()[1022], uint8_t('y'));
        QCOMPARE(cut.data()[1023], uint8_t(0));
        QCOMPARE(KTagString(0, nullptr).len(), uint16_t(1));

        const Bytes src(1500, 0x42);
        QCOMPARE(KTagBytes(0, src.data(), 1500).len(), uint16_t(1024));
        QCOMPARE(KTagBytes(0, src.data(), 0).len(), uint16_t(0));
        QCOMPARE(KTagBytes(0, src.data(), -5).len(), uint16_t(0));
        QCOMPARE(KTagBytes(0, nullptr, 10).len(), uint16_t(0));
    }

    void classProperties()
    {
        const std::unique_ptr<KTag> tags[]
                = {std::make_unique<KTagNull>(1),      std::make_unique<KTagString>(1, "a"),
                   std::make_unique<KTagUInt32>(1, 1), std::make_unique<KTagUInt16>(1, 1),
                   std::make_unique<KTagUInt8>(1, 1),  std::make_unique<KTagBytes>(1, nullptr, 0)};
        const int codes[]
                = {TYPE_NULL, TYPE_STRING, TYPE_UINT32, TYPE_UINT16, TYPE_UINT8, TYPE_BYTES};
        const int maxSizes[] = {0, 1024, 4, 2, 1, 1024};
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(tags[i]->type(), codes[i]);
            QCOMPARE(tags[i]->maxSize(), maxSizes[i]);
        }
    }

    void tagSerializeRefusesSmallBuffer()
    {
        const KTagUInt32 tag(TAG_SERIAL, 1);
        uint8_t out[8];
        std::memset(out, 0xAA, sizeof out);
        QCOMPARE(tag.serialize(out, 7), 0);
        QCOMPARE(tag.serialize(out, 0), 0);
        QCOMPARE(tag.serialize(nullptr, 8), 0);
        QCOMPARE(out[0], uint8_t(0xAA));
        QCOMPARE(tag.serialize(out, 8), 8);
    }

    void messageSizeLimit()
    {
        // 2 + 4 + 1018 = 1024 bytes: the largest message.
        const Bytes value(1019, 0x7E);
        KMsg fits(MSG_DATA);
        fits.add<KTagBytes>(TAG_DATA, value.data(), 1018);
        const Bytes out = serialized(fits);
        QCOMPARE(out.size(), size_t(1024));
        QCOMPARE(out[0], uint8_t(MSG_DATA));
        QCOMPARE(out[1], uint8_t(1));
        QCOMPARE(out[4], uint8_t(0x03));
        QCOMPARE(out[5], uint8_t(0xFA));

        KMsg tooBig(MSG_DATA);
        tooBig.add<KTagBytes>(TAG_DATA, value.data(), 1019);
        QCOMPARE(tooBig.serialize(Bytes(4096).data(), 4096), 0);

        // The caller's capacity binds too, down to the exact size.
        QCOMPARE(fits.serialize(Bytes(1023).data(), 1023), 0);
        QCOMPARE(fits.serialize(nullptr, 1024), 0);
    }

    void oversizedTotalNeverOverruns()
    {
        // 64 tags of 1024 bytes sum to 65792, past 16 bits; a wrapped total
        // would look like a small message and overrun the buffer.
        const Bytes value(1024, 1);
        KMsg msg(MSG_DATA);
        for (int i = 0; i < 64; ++i)
            msg.add<KTagBytes>(TAG_DATA, value.data(), 1024);
        QCOMPARE(msg.total(), 64 * 1028);
        Bytes out(kMsgMaxSize + 8, 0xAA);
        QCOMPARE(msg.serialize(out.data(), kMsgMaxSize), 0);
        QVERIFY(std::all_of(out.begin() + kMsgMaxSize, out.end(),
                            [](uint8_t b) { return b == 0xAA; }));
    }

    void emptyMessageIsNeverSent()
    {
        KMsg msg(MSG_SET);
        uint8_t out[16];
        QCOMPARE(msg.serialize(out, sizeof out), 0);
        msg.append(nullptr);
        QCOMPARE(msg.count(), 0);
        QCOMPARE(msg.serialize(out, sizeof out), 0);
    }

    void iterationAndClear()
    {
        KMsg msg(MSG_SET);
        QVERIFY(!msg.first());
        QVERIFY(!msg.next());

        msg.add<KTagUInt8>(TAG_BATTERY, 1);
        msg.add<KTagString>(TAG_BOX, "box");
        msg.add<KTagNull>(TAG_TRANSFER);
        QCOMPARE(msg.count(), 3);
        QCOMPARE(msg.total(), 5 + 8 + 4);

        const KTag *head = msg.first();
        QVERIFY(head);
        QCOMPARE(head->id(), uint8_t(TAG_BATTERY));
        QCOMPARE(msg.next(), head); // the first next() returns the first tag again
        QCOMPARE(msg.next()->id(), uint8_t(TAG_BOX));
        QCOMPARE(msg.next()->id(), uint8_t(TAG_TRANSFER));
        QVERIFY(!msg.next());
        QVERIFY(!msg.next());
        QCOMPARE(msg.first(), head); // a second pass starts over
        QCOMPARE(msg.at(2)->id(), uint8_t(TAG_TRANSFER));
        QVERIFY(!msg.at(3));
        QVERIFY(!msg.at(-1));

        msg.clear();
        QCOMPARE(msg.count(), 0);
        QCOMPARE(msg.total(), 0);
        QVERIFY(!msg.first());
        msg.add<KTagUInt8>(TAG_BATTERY, 2);
        QCOMPARE(serialized(msg), (Bytes {0, 1, 12, 4, 0, 1, 2}));
    }

    void integerAccessors()
    {
        const KTagUInt32 u32(0, 0x11223344u);
        QCOMPARE(u32.getUInt32(), 0x11223344u);
        QCOMPARE(u32.getUInt16(), uint16_t(0x1122)); // first two value bytes
        QCOMPARE(u32.getUInt8(), uint8_t(0x11));
        const KTagUInt16 u16(0, 0xA1B2);
        QCOMPARE(u16.getUInt16(), uint16_t(0xA1B2));
        QCOMPARE(u16.getUInt32(), 0xA1B2u); // shorter values read as their number
        QCOMPARE(KTagUInt8(0, 200).getUInt32(), 200u);
        const KTagNull null(0);
        QCOMPARE(null.getUInt8(), uint8_t(0));
        QCOMPARE(null.getUInt16(), uint16_t(0));
        QCOMPARE(null.getUInt32(), 0u);
        const uint8_t raw[] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};
        QCOMPARE(KTagBytes(0, raw, 5).getUInt32(), 0xDEADBEEFu);
    }

    void stringAccessorCapacity()
    {
        char dst[40];
        const std::string t31(31, 'a'), t32(32, 'b');
        QCOMPARE(KTagString(0, t31.c_str()).getString(dst, 32), 32);
        QCOMPARE(std::string(dst), t31);

        std::memset(dst, 'Z', sizeof dst);
        QCOMPARE(KTagString(0, t32.c_str()).getString(dst, 32), 0);
        QCOMPARE(dst[0], 'Z'); // nothing copied
        QCOMPARE(KTagString(0, "x").getString(nullptr, 32), 0);
    }

    void stringAccessorAlwaysTerminates()
    {
        // Bytes without a NUL read as text need one more byte for the terminator.
        const uint8_t raw[] = {'a', 'b', 'c'};
        const KTagBytes bytes(0, raw, 3);
        char dst[4];
        std::memset(dst, 'Z', sizeof dst);
        QCOMPARE(bytes.getString(dst, 3), 0);
        QCOMPARE(dst[0], 'Z');
        QCOMPARE(bytes.getString(dst, 4), 3);
        QCOMPARE(std::string(dst), std::string("abc"));

        // An empty value gives an empty text and counts as not taken.
        std::memset(dst, 'Z', sizeof dst);
        QCOMPARE(KTagNull(0).getString(dst, 4), 0);
        QCOMPARE(dst[0], '\0');
        // A one-byte integer read as text is terminated as well.
        std::memset(dst, 'Z', sizeof dst);
        QCOMPARE(KTagUInt8(0, 'q').getString(dst, 2), 1);
        QCOMPARE(std::string(dst), std::string("q"));
    }

    void bytesAccessor()
    {
        const uint8_t raw[] = {1, 2, 3, 4};
        const KTagBytes tag(0, raw, 4);
        uint8_t dst[4] = {};
        QCOMPARE(tag.getBytes(dst, 3), 0);
        QCOMPARE(dst[0], uint8_t(0));
        QCOMPARE(tag.getBytes(nullptr, 4), 0);
        QCOMPARE(tag.getBytes(dst, 4), 4);
        QCOMPARE(Bytes(dst, dst + 4), Bytes(raw, raw + 4));
        QCOMPARE(KTagUInt16(0, 0x0102).getBytes(dst, 4), 2);
        QCOMPARE(dst[0], uint8_t(1));
        QCOMPARE(dst[1], uint8_t(2));
    }
};

QTEST_APPLESS_MAIN(TestKMsgBuild)
#include "tst_kmsg_build.moc"
