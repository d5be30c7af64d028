#pragma once

#include <cstdint>

// Framing of one key message on the USB wire: 0x7E flags, 0x7D escapes and a
// CRC-16/X.25 frame check sequence sent low byte first. Pure functions; the
// caller supplies every buffer.

// CRC register after n bytes, preset 0xFFFF, no final complement.
uint16_t crc16(const uint8_t *bytes, int n);

// Worst case frame size for a payload of n bytes (every byte escaped).
constexpr int frameEncodeCapacity(int n)
{
    return 2 * (n + 2) + 2;
}

// Writes one frame for n payload bytes; out holds frameEncodeCapacity(n) bytes.
void frameEncode(const uint8_t *payload, int n, uint8_t *out, int &outLength);

// Decodes at most one frame: bytes before the first flag are discarded, bytes
// after the closing flag are not read. Returns the number of content bytes
// (payload and FCS) written to out; never more than n.
int frameDecode(const uint8_t *input, int n, uint8_t *out);

// Residue of the CRC register over an undamaged frame content.
constexpr uint16_t kFrameGoodResidue = 0xF0B8;

// True when m content bytes (payload + FCS) pass the check; the payload is then
// the first m - 2 bytes.
bool frameCheck(const uint8_t *content, int m);
