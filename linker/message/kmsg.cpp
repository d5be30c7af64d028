#include "kmsg.h"

#include <cstring>

namespace {

// One tag from the front of the remaining bytes, or null when they do not hold
// a well-formed tag. The read is bounded by the value length L; a string
// without a NUL in its L bytes and an integer shorter than its width are
// malformed.
std::unique_ptr<KTag> parseTag(const uint8_t *p, int remaining)
{
    if (remaining < kTagHeaderSize)
        return nullptr;
    const int valueLength = p[2] * 256 + p[3];
    if (remaining < valueLength + kTagHeaderSize)
        return nullptr;
    const uint8_t id = p[0];
    const uint8_t *value = p + kTagHeaderSize;
    switch (p[1]) {
    case TYPE_NULL:
        return std::make_unique<KTagNull>(id);
    case TYPE_STRING:
        if (!std::memchr(value, 0, valueLength))
            return nullptr;
        return std::make_unique<KTagString>(id, reinterpret_cast<const char *>(value));
    case TYPE_UINT32:
        if (valueLength < 4)
            return nullptr;
        return std::make_unique<KTagUInt32>(id,
                                            (uint32_t(value[0]) << 24) | (uint32_t(value[1]) << 16)
                                                    | (uint32_t(value[2]) << 8) | value[3]);
    case TYPE_UINT16:
        if (valueLength < 2)
            return nullptr;
        return std::make_unique<KTagUInt16>(id, static_cast<uint16_t>((value[0] << 8) | value[1]));
    case TYPE_UINT8:
        if (valueLength < 1)
            return nullptr;
        return std::make_unique<KTagUInt8>(id, value[0]);
    case TYPE_BYTES:
        return std::make_unique<KTagBytes>(id, value, valueLength);
    default:
        return nullptr;
    }
}

} // namespace

KMsg::KMsg(uint8_t type)
    : m_type(type)
{
}

KMsg::~KMsg() = default;

void KMsg::append(std::unique_ptr<KTag> tag)
{
    if (!tag)
        return;
    // Kept as int, not the wire's 16 bits: a wrapped sum would let an
    // oversized message pass the size check in serialize().
    m_total += tag->len() + kTagHeaderSize;
    m_tags.push_back(std::move(tag));
}

const KTag *KMsg::first()
{
    m_cursor = 0;
    return at(0);
}

const KTag *KMsg::next()
{
    if (m_cursor >= m_tags.size())
        return nullptr;
    return m_tags[m_cursor++].get();
}

const KTag *KMsg::at(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_tags.size())
        return nullptr;
    return m_tags[static_cast<std::size_t>(index)].get();
}

int KMsg::serialize(uint8_t *out, int capacity) const
{
    const int size = 2 + m_total;
    if (!out || size > capacity || size > kMsgMaxSize)
        return 0;
    out[0] = m_type;
    // At most 255 tags fit in 1024 bytes, so the count byte cannot wrap here.
    out[1] = static_cast<uint8_t>(m_tags.size());
    if (m_tags.empty())
        return 0;
    int pos = 2;
    for (const auto &tag : m_tags)
        pos += tag->serialize(out + pos, capacity - pos);
    return pos;
}

std::unique_ptr<KMsg> KMsg::parse(const uint8_t *bytes, int n)
{
    if (!bytes || n < 2)
        return nullptr;
    auto msg = std::make_unique<KMsg>(bytes[0]);
    uint8_t expected = bytes[1];
    const uint8_t *pos = bytes + 2;
    int remaining = n - 2;
    while (auto tag = parseTag(pos, remaining)) {
        // Advance by the value the tag holds, which a conforming sender writes
        // as L; a string cut at its NUL or an over-long integer advances less.
        const int consumed = tag->len() + kTagHeaderSize;
        pos += consumed;
        remaining -= consumed;
        msg->append(std::move(tag));
        --expected; // the count byte is compared modulo 256
    }
    if (expected != 0)
        return nullptr;
    return msg;
}

void KMsg::clear()
{
    m_tags.clear();
    m_total = 0;
    m_cursor = 0;
}
