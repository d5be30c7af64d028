// Builds a message from the fuzz input, sends it through serialize, the frame
// codec and parse, and compares what arrives with what was sent.
#include "frame_codec.h"
#include "kmsg.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

class Input
{
public:
    Input(const uint8_t *data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool empty() const { return m_pos >= m_size; }
    uint8_t byte() { return empty() ? 0 : m_data[m_pos++]; }
    uint32_t number(int width)
    {
        uint32_t v = 0;
        for (int i = 0; i < width; ++i)
            v = (v << 8) | byte();
        return v;
    }
    std::vector<uint8_t> bytes(size_t n)
    {
        n = std::min(n, m_size - m_pos);
        std::vector<uint8_t> out(m_data + m_pos, m_data + m_pos + n);
        m_pos += n;
        return out;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

std::unique_ptr<KTag> makeTag(Input &in)
{
    const uint8_t kind = in.byte() % 6;
    const uint8_t id = in.byte();
    switch (kind) {
    case TYPE_NULL:
        return std::make_unique<KTagNull>(id);
    case TYPE_STRING: {
        // Texts may carry an early NUL or run past 1023 characters: both are cut.
        const auto raw = in.bytes(in.number(2) % 1100);
        const std::string text(raw.begin(), raw.end());
        return std::make_unique<KTagString>(id, text.c_str());
    }
    case TYPE_UINT32:
        return std::make_unique<KTagUInt32>(id, in.number(4));
    case TYPE_UINT16:
        return std::make_unique<KTagUInt16>(id, static_cast<uint16_t>(in.number(2)));
    case TYPE_UINT8:
        return std::make_unique<KTagUInt8>(id, in.byte());
    default: {
        const auto raw = in.bytes(in.number(2) % 1100);
        return std::make_unique<KTagBytes>(id, raw.data(), static_cast<int>(raw.size()));
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in(data, size);
    KMsg sent(in.byte());
    while (!in.empty() && sent.count() < 300)
        sent.append(makeTag(in));

    std::vector<uint8_t> payload(kMsgMaxSize + 1);
    const int length = sent.serialize(payload.data(), kMsgMaxSize);
    if (sent.count() == 0 || 2 + sent.total() > kMsgMaxSize) {
        require(length == 0);
        return 0;
    }
    require(length == 2 + sent.total());
    payload[length] = 0; // filler byte, as the link adds it

    std::vector<uint8_t> frame(frameEncodeCapacity(length + 1));
    int frameLength = 0;
    frameEncode(payload.data(), length + 1, frame.data(), frameLength);
    require(frameLength <= static_cast<int>(frame.size()));
    std::vector<uint8_t> content(frameLength);
    const int m = frameDecode(frame.data(), frameLength, content.data());
    require(m == length + 3);
    require(frameCheck(content.data(), m));

    auto received = KMsg::parse(content.data(), m - 2);
    require(received != nullptr);
    require(received->type() == sent.type());
    require(received->count() == sent.count());
    require(received->total() == sent.total());
    sent.first();
    received->first();
    const KTag *a = nullptr;
    const KTag *b = nullptr;
    while ((a = sent.next()) && (b = received->next())) {
        require(a->id() == b->id() && a->type() == b->type() && a->len() == b->len());
        require(a->len() == 0 || std::memcmp(a->data(), b->data(), a->len()) == 0);
        require(a->getUInt32() == b->getUInt32());
    }
    require(!a && !received->next());
    return 0;
}
