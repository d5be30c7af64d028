#include "frame_codec.h"

#include <QtTest>

#include <random>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace {

Bytes encode(const Bytes &payload)
{
    Bytes out(frameEncodeCapacity(static_cast<int>(payload.size())));
    int len = -1;
    frameEncode(payload.data(), static_cast<int>(payload.size()), out.data(), len);
    out.resize(len);
    return out;
}

// Decodes into a buffer of exactly the input size, as the interface promises suffices.
Bytes decode(const Bytes &input)
{
    Bytes out(input.size() + 1);
    const int n = frameDecode(input.data(), static_cast<int>(input.size()), out.data());
    out.resize(n);
    return out;
}

// Bit-at-a-time CRC-16/X.25 register, independent of the codec's table.
uint16_t bitwiseCrc(const Bytes &data)
{
    uint16_t reg = 0xFFFF;
    for (uint8_t b : data) {
        reg ^= b;
        for (int i = 0; i < 8; ++i)
            reg = (reg & 1) ? (reg >> 1) ^ 0x8408 : reg >> 1;
    }
    return reg;
}

uint16_t fcsOf(const Bytes &payload)
{
    return crc16(payload.data(), static_cast<int>(payload.size())) ^ 0xFFFF;
}

bool special(uint8_t b)
{
    return b == 0x7E || b == 0x7D;
}

Bytes randomBytes(std::mt19937 &rng, int n)
{
    Bytes b(n);
    for (auto &x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

} // namespace

class TestFrameCodec : public QObject
{
    Q_OBJECT
private slots:
    void crcCheckValueAndPreset()
    {
        // Check value of CRC-16/X-25 in the CRC RevEng catalogue
        // ("check=0x906e"), the FCS algorithm of RFC 1662, appendix C.2.
        const char *digits = "123456789";
        QCOMPARE(crc16(reinterpret_cast<const uint8_t *>(digits), 9) ^ 0xFFFF, 0x906E);
        QCOMPARE(crc16(nullptr, 0), uint16_t(0xFFFF));
    }

    void crcMatchesBitwiseReference()
    {
        // Every table entry is reached by the single-byte runs.
        for (int b = 0; b < 256; ++b) {
            const Bytes one {static_cast<uint8_t>(b)};
            QCOMPARE(crc16(one.data(), 1), bitwiseCrc(one));
        }
        std::mt19937 rng(7);
        for (int n : {2, 17, 300, 1025}) {
            const Bytes data = randomBytes(rng, n);
            QCOMPARE(crc16(data.data(), n), bitwiseCrc(data));
        }
    }

    void knownFrames()
    {
        QCOMPARE(encode(Bytes {'a', 'b', 'c'}), (Bytes {0x7E, 0x61, 0x62, 0x63, 0x25, 0x9E, 0x7E}));
        QCOMPARE(encode(Bytes {}), (Bytes {0x7E, 0x00, 0x00, 0x7E}));

        const Bytes content = decode(Bytes {0x7E, 0x00, 0x00, 0x7E});
        QCOMPARE(content, (Bytes {0x00, 0x00}));
        QVERIFY(frameCheck(content.data(), 2));
        QVERIFY(frameCheck(decode(Bytes {0x7E, 0x61, 0x62, 0x63, 0x25, 0x9E, 0x7E}).data(), 5));
    }

    void payloadBytesEscaped()
    {
        const Bytes frame = encode(Bytes {0x7E, 0x7D, 0x5E, 0x20});
        // Opening flag, two escaped pairs, two plain bytes, then FCS and flag.
        QCOMPARE(Bytes(frame.begin(), frame.begin() + 7),
                 (Bytes {0x7E, 0x7D, 0x5E, 0x7D, 0x5D, 0x5E, 0x20}));
        QCOMPARE(decode(frame).size(), size_t(6));
    }

    void fcsBytesEscaped()
    {
        // Find payloads whose FCS low or high byte needs escaping.
        bool lowSeen = false, highSeen = false;
        for (int v = 0; v < 65536 && !(lowSeen && highSeen); ++v) {
            const Bytes payload {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
            if (special(payload[0]) || special(payload[1]))
                continue;
            const uint16_t fcs = fcsOf(payload);
            const uint8_t lo = fcs & 0xFF, hi = fcs >> 8;
            if (!special(lo) && !special(hi))
                continue;
            const Bytes frame = encode(payload);
            Bytes expected {0x7E, payload[0], payload[1]};
            for (uint8_t b : {lo, hi}) {
                if (special(b))
                    expected.insert(expected.end(), {0x7D, static_cast<uint8_t>(b ^ 0x20)});
                else
                    expected.push_back(b);
            }
            expected.push_back(0x7E);
            QCOMPARE(frame, expected);
            const Bytes content = decode(frame);
            QCOMPARE(content, (Bytes {payload[0], payload[1], lo, hi}));
            QVERIFY(frameCheck(content.data(), 4));
            lowSeen = lowSeen || special(lo);
            highSeen = highSeen || special(hi);
        }
        QVERIFY(lowSeen);
        QVERIFY(highSeen);
    }

    void randomRoundTrips()
    {
        std::mt19937 rng(20261207);
        for (int n = 0; n <= 1025; ++n) {
            Bytes payload = randomBytes(rng, n);
            // Make flags and escapes frequent enough to matter.
            for (auto &b : payload)
                if (rng() % 8 == 0)
                    b = (rng() & 1) ? 0x7E : 0x7D;
            const Bytes frame = encode(payload);

            int k = 0;
            for (uint8_t b : payload)
                k += special(b);
            const uint16_t fcs = fcsOf(payload);
            const size_t expectedSize = n + k + 4 + special(fcs & 0xFF) + special(fcs >> 8);
            QCOMPARE(frame.size(), expectedSize);
            QVERIFY(frame.size() <= size_t(frameEncodeCapacity(n)));
            QCOMPARE(frame.front(), uint8_t(0x7E));
            QCOMPARE(frame.back(), uint8_t(0x7E));
            QCOMPARE(std::count(frame.begin(), frame.end(), uint8_t(0x7E)), 2);

            const Bytes content = decode(frame);
            QCOMPARE(content.size(), size_t(n + 2));
            QVERIFY(frameCheck(content.data(), static_cast<int>(content.size())));
            QCOMPARE(crc16(content.data(), static_cast<int>(content.size())), kFrameGoodResidue);
            QVERIFY(std::equal(payload.begin(), payload.end(), content.begin()));
        }
    }

    void worstCaseFitsCapacity()
    {
        const Bytes payload(1025, 0x7E);
        const int capacity = frameEncodeCapacity(1025);
        Bytes out(capacity + 16, 0xAA);
        int len = 0;
        frameEncode(payload.data(), 1025, out.data(), len);
        QVERIFY(len <= capacity);
        QVERIFY(std::all_of(out.begin() + capacity, out.end(),
                            [](uint8_t b) { return b == 0xAA; }));
    }

    void damagedFramesFailCheck()
    {
        std::mt19937 rng(99);
        const Bytes payload = randomBytes(rng, 40);
        const Bytes good = decode(encode(payload));
        // Every single-bit error in the content is detected.
        for (size_t i = 0; i < good.size(); ++i) {
            for (int bit = 0; bit < 8; ++bit) {
                Bytes bad = good;
                bad[i] ^= static_cast<uint8_t>(1 << bit);
                QVERIFY(!frameCheck(bad.data(), static_cast<int>(bad.size())));
            }
        }
        // A frame cut short fails the check.
        Bytes frame = encode(payload);
        frame.resize(frame.size() - 5);
        const Bytes truncated = decode(frame);
        QVERIFY(!frameCheck(truncated.data(), static_cast<int>(truncated.size())));
        // Contents below two bytes never pass.
        const uint8_t zero[2] = {0, 0};
        QVERIFY(!frameCheck(zero, 0));
        QVERIFY(!frameCheck(zero, 1));
    }

    void decodeWithoutOrWithOneFlag()
    {
        // No flag: decoded whole from the first byte, escapes applied.
        QCOMPARE(decode(Bytes {0x41, 0x7D, 0x5E, 0x42}), (Bytes {0x41, 0x7E, 0x42}));
        // One flag: everything before it is discarded, the rest decoded to the end.
        QCOMPARE(decode(Bytes {0x01, 0x02, 0x7E, 0x43, 0x44}), (Bytes {0x43, 0x44}));
        QCOMPARE(decode(Bytes {}), Bytes {});
    }

    void decodePendingEscapeAcrossFlag()
    {
        // The opening flag keeps a pending escape for the next data byte.
        QCOMPARE(decode(Bytes {0x7D, 0x7E, 0x41, 0x7E}), Bytes {0x61});
        // An escape right before the closing flag is dropped.
        QCOMPARE(decode(Bytes {0x7E, 0x41, 0x7D, 0x7E}), Bytes {0x41});
        // An escape at the very end of the input is dropped too.
        QCOMPARE(decode(Bytes {0x7E, 0x41, 0x7D}), Bytes {0x41});
    }

    void decodeStopsAtClosingFlag()
    {
        const Bytes first = encode(Bytes {1, 2, 3});
        const Bytes second = encode(Bytes {4, 5, 6, 7});
        Bytes both = first;
        both.insert(both.end(), second.begin(), second.end());
        QCOMPARE(decode(both), decode(first));

        // Bytes after the closing flag are not read: the output is unchanged
        // whatever follows, and none of them land in the output buffer.
        Bytes input = first;
        input.insert(input.end(), {0x7D, 0x7D, 0x99, 0x7E});
        Bytes out(input.size(), 0xAA);
        const int n = frameDecode(input.data(), static_cast<int>(input.size()), out.data());
        QCOMPARE(n, 5);
        QVERIFY(std::all_of(out.begin() + n, out.end(), [](uint8_t b) { return b == 0xAA; }));
    }

    void decodeNeverWritesMoreThanItReads()
    {
        std::mt19937 rng(5);
        for (int round = 0; round < 2000; ++round) {
            const int n = static_cast<int>(rng() % 64);
            Bytes input = randomBytes(rng, n);
            for (auto &b : input)
                if (rng() % 4 == 0)
                    b = (rng() & 1) ? 0x7E : 0x7D;
            Bytes out(n + 8, 0xAA);
            const int m = frameDecode(input.data(), n, out.data());
            QVERIFY(m >= 0 && m <= n);
            QVERIFY(std::all_of(out.begin() + n, out.end(), [](uint8_t b) { return b == 0xAA; }));
        }
    }
};

QTEST_APPLESS_MAIN(TestFrameCodec)
#include "tst_frame_codec.moc"
