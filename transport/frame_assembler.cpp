#include "frame_assembler.h"

#include "frame_codec.h"

namespace {
constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;
constexpr uint8_t kEscapeXor = 0x20;
} // namespace

void FrameAssembler::reset()
{
    content_.clear();
    bodyBytes_ = 0;
    open_ = false;
    escape_ = false;
    overlong_ = false;
}

void FrameAssembler::openFrame()
{
    content_.clear();
    bodyBytes_ = 0;
    open_ = true;
    overlong_ = false;
}

void FrameAssembler::closeFrame(QVector<QByteArray> &out)
{
    const auto *data = reinterpret_cast<const uint8_t *>(content_.constData());
    if (open_ && !overlong_ && frameCheck(data, content_.size()))
        out.append(content_.left(content_.size() - 2));
    content_.clear();
    bodyBytes_ = 0;
    open_ = false;
    overlong_ = false;
}

void FrameAssembler::countBodyByte()
{
    // Escapes count too: the limit is on the bytes on the wire.
    if (open_ && !overlong_ && ++bodyBytes_ > kMaxBody) {
        overlong_ = true;
        content_.clear();
    }
}

void FrameAssembler::addByte(uint8_t byte)
{
    if (open_ && !overlong_)
        content_.append(static_cast<char>(byte));
}

QVector<QByteArray> FrameAssembler::feed(const uint8_t *bytes, int n)
{
    QVector<QByteArray> out;
    if (n <= 0)
        return out;

    // The rules that mirror decoding a read on its own apply only between
    // frames: in the middle of a frame a chunk that happens to check is not one.
    const bool betweenFrames = !midFrame();
    int firstFlag = -1;
    for (int i = 0; i < n; ++i) {
        if (bytes[i] == kFlag) {
            firstFlag = i;
            break;
        }
    }

    if (firstFlag < 0 && betweenFrames) {
        // A read without a flag is taken whole when it checks on its own, as
        // decoding it alone would; otherwise it continues an open frame.
        QByteArray whole(n, Qt::Uninitialized);
        auto *decoded = reinterpret_cast<uint8_t *>(whole.data());
        const int m = frameDecode(bytes, n, decoded);
        if (frameCheck(decoded, m)) {
            out.append(whole.left(m - 2));
            reset();
            return out;
        }
    }

    // The escape state at the first flag of a read is what this read alone
    // says, so the first frame of a read decodes as it would on its own.
    bool localEscape = false;
    bool openedHere = false;
    bool firstOfRead = false;
    for (int i = 0; i < n; ++i) {
        const uint8_t byte = bytes[i];
        if (byte != kFlag)
            countBodyByte();
        if (byte == kEscape) {
            escape_ = true;
            localEscape = true;
        } else if (byte == kFlag) {
            if (i == firstFlag)
                escape_ = localEscape;
            closeFrame(out);
            openFrame();
            firstOfRead = !openedHere;
            openedHere = true;
        } else {
            addByte(escape_ ? byte ^ kEscapeXor : byte);
            escape_ = false;
            localEscape = false;
        }
    }

    // A frame opened at the read's first flag and left open is taken when it
    // already checks (decoding the read alone would take it); otherwise it
    // waits for the rest in the next read.
    if (open_ && firstOfRead && betweenFrames && !overlong_) {
        const auto *data = reinterpret_cast<const uint8_t *>(content_.constData());
        if (frameCheck(data, content_.size())) {
            out.append(content_.left(content_.size() - 2));
            reset();
        }
    }
    return out;
}
