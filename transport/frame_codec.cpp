#include "frame_codec.h"

#include <array>

namespace {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;
constexpr uint8_t kEscapeXor = 0x20;

constexpr std::array<uint16_t, 256> makeTable()
{
    std::array<uint16_t, 256> table {};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t reg = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0x8408)
                            : static_cast<uint16_t>(reg >> 1);
        table[i] = reg;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = makeTable();
static_assert(kTable[1] == 0x1189 && kTable[2] == 0x2312 && kTable[3] == 0x329B,
              "reflected CCITT table");

inline void putEscaped(uint8_t byte, uint8_t *out, int &pos)
{
    if (byte == kFlag || byte == kEscape) {
        out[pos++] = kEscape;
        out[pos++] = byte ^ kEscapeXor;
    } else {
        out[pos++] = byte;
    }
}

} // namespace

uint16_t crc16(const uint8_t *bytes, int n)
{
    uint16_t reg = 0xFFFF;
    for (int i = 0; i < n; ++i)
        reg = static_cast<uint16_t>((reg >> 8) ^ kTable[(reg ^ bytes[i]) & 0xFF]);
    return reg;
}

void frameEncode(const uint8_t *payload, int n, uint8_t *out, int &outLength)
{
    const uint16_t fcs = crc16(payload, n) ^ 0xFFFF;
    int pos = 0;
    out[pos++] = kFlag;
    for (int i = 0; i < n; ++i)
        putEscaped(payload[i], out, pos);
    putEscaped(static_cast<uint8_t>(fcs & 0xFF), out, pos);
    putEscaped(static_cast<uint8_t>(fcs >> 8), out, pos);
    out[pos++] = kFlag;
    outLength = pos;
}

int frameDecode(const uint8_t *input, int n, uint8_t *out)
{
    bool escapePending = false;
    bool openingSeen = false;
    int count = 0;
    for (int i = 0; i < n; ++i) {
        const uint8_t byte = input[i];
        if (byte == kEscape) {
            escapePending = true;
        } else if (byte == kFlag) {
            if (openingSeen)
                return count;
            // Everything before the opening flag is discarded; a pending escape stays.
            openingSeen = true;
            count = 0;
        } else {
            out[count++] = escapePending ? byte ^ kEscapeXor : byte;
            escapePending = false;
        }
    }
    return count;
}

bool frameCheck(const uint8_t *content, int m)
{
    return m >= 2 && crc16(content, m) == kFrameGoodResidue;
}
