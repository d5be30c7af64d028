// Arbitrary bytes as read from the key: unframe, check, parse, and write the
// message again. Any crash, sanitizer report or broken invariant is a finding.
#include "frame_codec.h"
#include "kmsg.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// A parsed message written out must parse back to the same bytes.
void checkReserialization(KMsg &msg, int received)
{
    require(2 + msg.total() <= received);
    uint8_t out[kMsgMaxSize];
    const int size = msg.serialize(out, sizeof out);
    const bool sendable = msg.count() > 0 && 2 + msg.total() <= kMsgMaxSize;
    require(size == (sendable ? 2 + msg.total() : 0));
    if (!sendable)
        return;

    auto again = KMsg::parse(out, size);
    require(again != nullptr);
    require(again->type() == msg.type() && again->count() == msg.count());
    uint8_t out2[kMsgMaxSize];
    require(again->serialize(out2, sizeof out2) == size);
    require(std::memcmp(out, out2, size) == 0);

    // Every accessor stays inside the value it reads.
    int seen = 0;
    msg.first();
    while (const KTag *tag = msg.next()) {
        ++seen;
        char text[kTagMaxValue + 1];
        uint8_t bytes[kTagMaxValue];
        require(tag->len() <= kTagMaxValue);
        require(tag->getBytes(bytes, sizeof bytes) == tag->len());
        if (tag->len() > 0) {
            require(tag->getString(text, sizeof text) == tag->len());
            require(std::memchr(text, 0, tag->len() + 1) != nullptr);
        }
        (void)tag->getUInt32();
    }
    require(seen == msg.count());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    const int n = static_cast<int>(size);
    std::vector<uint8_t> content(size);
    const int m = frameDecode(data, n, content.data());
    require(m >= 0 && m <= n);

    const bool good = frameCheck(content.data(), m);
    if (m < 2) {
        require(!good);
        return 0;
    }
    if (good) {
        // A good content encodes back to a frame that decodes to itself.
        std::vector<uint8_t> frame(frameEncodeCapacity(m - 2));
        int frameLength = 0;
        frameEncode(content.data(), m - 2, frame.data(), frameLength);
        std::vector<uint8_t> back(frameLength);
        require(frameDecode(frame.data(), frameLength, back.data()) == m);
        require(std::memcmp(back.data(), content.data(), m) == 0);
    }

    // The receiver parses only good contents; the parser must survive the rest too.
    std::vector<uint8_t> payload(content.begin(), content.begin() + (m - 2));
    if (auto msg = KMsg::parse(payload.data(), m - 2))
        checkReserialization(*msg, m - 2);
    if (auto msg = KMsg::parse(data, n))
        checkReserialization(*msg, n);
    return 0;
}
