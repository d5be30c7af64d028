#include "frame_assembler.h"
#include "frame_codec.h"
#include "frame_test_util.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

QVector<QByteArray> feed(FrameAssembler &assembler, const QByteArray &bytes)
{
    return assembler.feed(reinterpret_cast<const uint8_t *>(bytes.constData()), bytes.size());
}

// What decoding one read on its own delivers, or nothing.
bool perReadPayload(const QByteArray &read, QByteArray &payload)
{
    QByteArray content(read.size() + 1, '\0');
    const int m = frameDecode(reinterpret_cast<const uint8_t *>(read.constData()), read.size(),
                              reinterpret_cast<uint8_t *>(content.data()));
    if (!frameCheck(reinterpret_cast<const uint8_t *>(content.constData()), m))
        return false;
    payload = content.left(m - 2);
    return true;
}

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

} // namespace

class TestFrameAssembler : public QObject
{
    Q_OBJECT
private slots:
    void singleFramePerRead_data();
    void singleFramePerRead();
    void damagedFramesAreDropped();
    void twoFramesInOneRead();
    void frameSplitAtEveryPosition();
    void largestFrameOverThreeReads();
    void overlongFrameIsDiscardedAndNextIsKept();
    void fillerByteBetweenReadsIsDropped();
    void perReadQuirksAreKept();
    void continuationThatChecksIsNoFrame();
    void everyPerReadFrameIsStillDelivered();
};

void TestFrameAssembler::singleFramePerRead_data()
{
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("empty payload 7E 00 00 7E") << bytesOf({0x7E, 0x00, 0x00, 0x7E}) << QByteArray();
    QTest::newRow("plain") << encodeFrame("hello") << QByteArray("hello");
    const QByteArray special = bytesOf({0x7E, 0x7D, 0x5E, 0x5D, 0x00, 0xFF, 0x7E});
    QTest::newRow("escaped bytes") << encodeFrame(special) << special;
    QTest::newRow("garbage before flag")
            << QByteArray("\x30\x31", 2) + encodeFrame("abc") << QByteArray("abc");
    QTest::newRow("filler after frame")
            << encodeFrame("abc") + QByteArray(1, 0x30) << QByteArray("abc");
    QTest::newRow("1025 bytes of 0x7E")
            << encodeFrame(QByteArray(400, 0x7E)) << QByteArray(400, 0x7E);
}

void TestFrameAssembler::singleFramePerRead()
{
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, payload);
    FrameAssembler assembler;
    const QVector<QByteArray> out = feed(assembler, read);
    QCOMPARE(out.size(), 1);
    QCOMPARE(out.first(), payload);
    // Nothing is left behind that a following frame could be mixed with.
    QCOMPARE(feed(assembler, encodeFrame("next")), QVector<QByteArray> {QByteArray("next")});
}

void TestFrameAssembler::damagedFramesAreDropped()
{
    FrameAssembler assembler;
    QByteArray bad = encodeFrame("payload");
    bad[3] = static_cast<char>(bad[3] ^ 0x01);
    QVERIFY(feed(assembler, bad).isEmpty());
    QVERIFY(feed(assembler, bytesOf({0x7E, 0x7E})).isEmpty());
    QVERIFY(feed(assembler, bytesOf({0x7E, 0x41, 0x7E})).isEmpty());
    // A good frame after the damaged ones still comes through, once.
    QCOMPARE(feed(assembler, encodeFrame("ok")), QVector<QByteArray> {QByteArray("ok")});
}

void TestFrameAssembler::twoFramesInOneRead()
{
    const QVector<QByteArray> expected {QByteArray("first"), QByteArray("second")};
    {
        FrameAssembler assembler;
        QCOMPARE(feed(assembler, encodeFrame("first") + encodeFrame("second")), expected);
    }
    {
        FrameAssembler assembler;
        QCOMPARE(
                feed(assembler, encodeFrame("first") + QByteArray(1, 0x30) + encodeFrame("second")),
                expected);
    }
    {
        // One flag between the frames, closing the first and opening the second.
        FrameAssembler assembler;
        QCOMPARE(feed(assembler, encodeFrame("first") + encodeFrame("second").mid(1)), expected);
    }
    {
        FrameAssembler assembler;
        QCOMPARE(feed(assembler, encodeFrame("a1") + encodeFrame("b2") + encodeFrame("c3")),
                 (QVector<QByteArray> {"a1", "b2", "c3"}));
    }
}

void TestFrameAssembler::frameSplitAtEveryPosition()
{
    const QByteArray payload = bytesOf({0x01, 0x7E, 0x02, 0x7D, 0x03, 0x30, 0x7E});
    const QByteArray wire = encodeFrame(payload);
    for (int cut = 1; cut < wire.size(); ++cut) {
        FrameAssembler assembler;
        QVector<QByteArray> out = feed(assembler, wire.left(cut));
        out += feed(assembler, wire.mid(cut));
        QVERIFY2(out == QVector<QByteArray> {payload}, qPrintable(QString("cut %1").arg(cut)));
    }
    // Split frame followed by a whole one in the same read.
    FrameAssembler assembler;
    QVERIFY(feed(assembler, encodeFrame("xx") + wire.left(5)).size() == 1);
    QCOMPARE(feed(assembler, wire.mid(5) + encodeFrame("yy")),
             (QVector<QByteArray> {payload, QByteArray("yy")}));
}

void TestFrameAssembler::largestFrameOverThreeReads()
{
    const QByteArray payload(1025, 0x7D); // every byte escaped
    const QByteArray wire = encodeFrame(payload);
    QVERIFY(wire.size() >= 2 * 1025 + 4);
    FrameAssembler assembler;
    QVector<QByteArray> out;
    for (int offset = 0; offset < wire.size(); offset += 1024)
        out += feed(assembler, wire.mid(offset, 1024));
    QCOMPARE(out, QVector<QByteArray> {payload});
}

void TestFrameAssembler::overlongFrameIsDiscardedAndNextIsKept()
{
    const QByteArray wire = encodeFrame(QByteArray(1030, 0x7E));
    FrameAssembler assembler;
    QVector<QByteArray> out;
    for (int offset = 0; offset < wire.size(); offset += 1024)
        out += feed(assembler, wire.mid(offset, 1024));
    QVERIFY(out.isEmpty());
    QCOMPARE(feed(assembler, encodeFrame("after")), QVector<QByteArray> {QByteArray("after")});

    // An endless stream without flags never grows without bound and never
    // turns into a frame.
    FrameAssembler endless;
    QVERIFY(feed(endless, QByteArray(1, 0x7E)).isEmpty());
    for (int i = 0; i < 10; ++i)
        QVERIFY(feed(endless, QByteArray(1024, 0x41)).isEmpty());
    QCOMPARE(feed(endless, encodeFrame("z")), QVector<QByteArray> {QByteArray("z")});
}

void TestFrameAssembler::fillerByteBetweenReadsIsDropped()
{
    FrameAssembler assembler;
    QCOMPARE(feed(assembler, encodeFrame("A")), QVector<QByteArray> {QByteArray("A")});
    QVERIFY(feed(assembler, QByteArray(1, 0x30)).isEmpty());
    QCOMPARE(feed(assembler, encodeFrame("B")), QVector<QByteArray> {QByteArray("B")});
    QVERIFY(feed(assembler, bytesOf({0x30, 0x7E})).isEmpty());
}

void TestFrameAssembler::perReadQuirksAreKept()
{
    const QByteArray wire = encodeFrame("quirk");
    {
        // Open frame whose check already passes: taken now, not again later.
        FrameAssembler assembler;
        QCOMPARE(feed(assembler, wire.left(wire.size() - 1)), QVector<QByteArray> {"quirk"});
        QVERIFY(feed(assembler, wire.right(1)).isEmpty());
    }
    {
        // A read without any flag that checks on its own.
        FrameAssembler assembler;
        QCOMPARE(feed(assembler, wire.mid(1, wire.size() - 2)), QVector<QByteArray> {"quirk"});
    }
    {
        // An escape right before the opening flag applies to the first byte.
        FrameAssembler assembler;
        QByteArray read = bytesOf({0x7D}) + wire;
        QByteArray alone;
        const bool perRead = perReadPayload(read, alone);
        const QVector<QByteArray> out = feed(assembler, read);
        QCOMPARE(out.size(), perRead ? 1 : 0);
        if (perRead)
            QCOMPARE(out.first(), alone);
    }
}

void TestFrameAssembler::continuationThatChecksIsNoFrame()
{
    // A run of bytes inside a frame that is itself a good frame body without
    // escapes, and reads that cut the frame right around it.
    QByteArray innerBody;
    for (char c = 'a'; innerBody.isEmpty() && c <= 'z'; ++c) {
        const QByteArray inner = encodeFrame(QByteArray("inner") + c);
        if (inner.size() == 6 + 4)
            innerBody = inner.mid(1, inner.size() - 2);
    }
    QVERIFY(!innerBody.isEmpty());
    const QByteArray payload = "head:" + innerBody + ":tail";
    const QByteArray wire = encodeFrame(payload);
    const int at = wire.indexOf(innerBody);
    QVERIFY(at > 0);
    {
        // The middle read has no flag and checks on its own.
        FrameAssembler assembler;
        QVector<QByteArray> out = feed(assembler, wire.left(at));
        out += feed(assembler, innerBody);
        out += feed(assembler, wire.mid(at + innerBody.size()));
        QCOMPARE(out, QVector<QByteArray> {payload});
    }
    {
        // The next frame opens at the continuation's closing flag, and the part
        // of it in that read checks.
        const QByteArray nextPayload = innerBody + ":more";
        const QByteArray next = encodeFrame(nextPayload).mid(1); // shares the flag
        FrameAssembler assembler;
        QVector<QByteArray> out = feed(assembler, wire.left(at));
        out += feed(assembler, wire.mid(at) + next.left(innerBody.size()));
        out += feed(assembler, next.mid(innerBody.size()));
        QCOMPARE(out, (QVector<QByteArray> {payload, nextPayload}));
    }
}

void TestFrameAssembler::everyPerReadFrameIsStillDelivered()
{
    // Reads made of frames, fragments, filler and noise, in a random order,
    // through one assembler: whatever decoding a read alone delivers must be
    // among what the assembler delivers for that read, when the read starts
    // between frames.
    QRandomGenerator rng(20261207);
    FrameAssembler assembler;
    int perReadFrames = 0;
    for (int round = 0; round < 4000; ++round) {
        QByteArray read;
        const int kind = rng.bounded(6);
        QByteArray payload(rng.bounded(0, 40), '\0');
        for (char &c : payload)
            c = static_cast<char>(rng.bounded(4) == 0 ? 0x7E : rng.bounded(256));
        const QByteArray wire = encodeFrame(payload);
        switch (kind) {
        case 0:
            read = wire;
            break;
        case 1:
            read = wire.left(rng.bounded(1, wire.size()));
            break;
        case 2:
            read = wire.mid(rng.bounded(1, wire.size()));
            break;
        case 3:
            read = QByteArray(1, 0x30) + wire + QByteArray(1, 0x30);
            break;
        case 4:
            read = wire + encodeFrame(payload.left(3));
            break;
        default:
            for (int i = rng.bounded(1, 8); i > 0; --i)
                read.append(static_cast<char>(rng.bounded(3) == 0 ? 0x7E : rng.bounded(256)));
        }
        QByteArray alone;
        const bool betweenFrames = !assembler.midFrame();
        const QVector<QByteArray> out = feed(assembler, read);
        if (betweenFrames && perReadPayload(read, alone)) {
            ++perReadFrames;
            QVERIFY2(out.contains(alone), qPrintable(read.toHex(' ')));
        }
        if (kind == 0 || kind == 3 || kind == 4)
            QVERIFY2(out.contains(payload), qPrintable(read.toHex(' ')));
        if (kind == 4)
            QVERIFY2(out.contains(payload.left(3)), qPrintable(read.toHex(' ')));
    }
    QVERIFY(perReadFrames > 1000);
}

QTEST_GUILESS_MAIN(TestFrameAssembler)
#include "tst_frame_assembler.moc"
