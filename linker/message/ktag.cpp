#include "ktag.h"

#include <algorithm>
#include <cstring>

namespace {

// Big-endian number formed by the first min(width, size) value bytes.
uint32_t readBigEndian(const std::vector<uint8_t> &data, std::size_t width)
{
    const std::size_t n = std::min(width, data.size());
    uint32_t value = 0;
    for (std::size_t i = 0; i < n; ++i)
        value = (value << 8) | data[i];
    return value;
}

} // namespace

int KTag::serialize(uint8_t *out, int capacity) const
{
    const int size = len() + kTagHeaderSize;
    if (!out || capacity <= 0 || capacity < size)
        return 0;
    out[0] = m_id;
    out[1] = static_cast<uint8_t>(m_type);
    out[2] = static_cast<uint8_t>(len() / 256);
    out[3] = static_cast<uint8_t>(len() % 256);
    if (!m_data.empty())
        std::memcpy(out + kTagHeaderSize, m_data.data(), m_data.size());
    return size;
}

uint32_t KTag::getUInt32() const
{
    return readBigEndian(m_data, 4);
}

uint16_t KTag::getUInt16() const
{
    return static_cast<uint16_t>(readBigEndian(m_data, 2));
}

uint8_t KTag::getUInt8() const
{
    return static_cast<uint8_t>(readBigEndian(m_data, 1));
}

int KTag::getString(char *dst, int capacity) const
{
    const int n = len();
    if (!dst || capacity < n || capacity <= 0)
        return 0;
    if (n == 0) {
        dst[0] = '\0';
        return 0;
    }
    const void *nul = std::memchr(m_data.data(), 0, m_data.size());
    if (!nul && capacity < n + 1)
        return 0;
    std::memcpy(dst, m_data.data(), m_data.size());
    if (!nul)
        dst[n] = '\0';
    return n;
}

int KTag::getBytes(uint8_t *dst, int capacity) const
{
    const int n = len();
    if (!dst || capacity < n)
        return 0;
    if (n > 0)
        std::memcpy(dst, m_data.data(), m_data.size());
    return n;
}

KTagUInt8::KTagUInt8(uint8_t id, unsigned value)
    : KTag(id, TYPE_UINT8)
{
    m_data = {static_cast<uint8_t>(value & 0xFF)};
}

KTagUInt16::KTagUInt16(uint8_t id, uint16_t value)
    : KTag(id, TYPE_UINT16)
{
    m_data = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)};
}

KTagUInt32::KTagUInt32(uint8_t id, uint32_t value)
    : KTag(id, TYPE_UINT32)
{
    m_data = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>((value >> 16) & 0xFF),
              static_cast<uint8_t>((value >> 8) & 0xFF), static_cast<uint8_t>(value & 0xFF)};
}

KTagString::KTagString(uint8_t id, const char *text)
    : KTag(id, TYPE_STRING)
{
    // strnlen bounds the read for texts that are cut anyway.
    const std::size_t n = text ? strnlen(text, kTagMaxValue - 1) : 0;
    m_data.reserve(n + 1);
    m_data.assign(text, text + n);
    m_data.push_back(0);
}

KTagBytes::KTagBytes(uint8_t id, const uint8_t *bytes, int count)
    : KTag(id, TYPE_BYTES)
{
    if (bytes && count > 0)
        m_data.assign(bytes, bytes + std::min(count, kTagMaxValue));
}
