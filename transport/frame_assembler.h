#pragma once

#include <QByteArray>
#include <QVector>

#include <cstdint>

// Turns the bytes of successive reads into payloads of good frames.
//
// A read that holds exactly one frame gives what decoding that read on its own
// gives (including that bytes before the first flag are dropped, that a frame
// left open at the end of the read is taken when its check sequence is good, and
// that a read without any flag is taken whole when it checks); those last two
// apply only to a read that starts between frames, never to the continuation
// of a frame from an earlier read. In addition a
// second frame in the same read is delivered, and a frame opened in one read is
// completed by the next ones. Every flag closes what is open and opens the next
// frame, so a lone filler byte between frames becomes a one-byte frame that
// fails the check and is dropped. A frame longer than the largest one a 1025-byte
// payload can make is discarded up to the next flag.
class FrameAssembler
{
public:
    // Encoded bytes between the flags of the largest frame (1025-byte payload
    // plus check sequence, every byte escaped).
    static constexpr int kMaxBody = 2 * (1025 + 2);

    // Payloads (check sequence removed) of the good frames completed by this read.
    QVector<QByteArray> feed(const uint8_t *bytes, int n);

    // Forgets any partly received frame (the key was lost).
    void reset();

    // True while a frame from an earlier read is still incomplete.
    bool midFrame() const { return open_ && bodyBytes_ > 0; }

private:
    void closeFrame(QVector<QByteArray> &out);
    void openFrame();
    void countBodyByte();
    void addByte(uint8_t byte);

    QByteArray content_;
    int bodyBytes_ = 0;
    bool open_ = false;
    bool escape_ = false;
    bool overlong_ = false;
};
