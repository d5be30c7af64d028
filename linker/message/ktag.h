#pragma once

#include "kmsg_ids.h"

#include <cstdint>
#include <vector>

// One tag of a key message: identifier, wire type code and the value kept in
// wire form (integers big-endian), so serializing is a plain copy.
class KTag
{
public:
    virtual ~KTag() = default;
    KTag(const KTag &) = delete;
    KTag &operator=(const KTag &) = delete;

    uint8_t id() const { return m_id; }
    // Number of value bytes held.
    uint16_t len() const { return static_cast<uint16_t>(m_data.size()); }
    int type() const { return m_type; }
    const uint8_t *data() const { return m_data.data(); }

    // Largest value size of the class.
    virtual int maxSize() const { return 0; }

    // Writes identifier, type code, big-endian length and value; returns
    // len() + 4, or 0 (writing nothing) when out is missing or too small.
    int serialize(uint8_t *out, int capacity) const;

    // Value accessors, usable on any tag. Integers read the first bytes of the
    // value big-endian; a value shorter than the width reads as the number its
    // bytes form (so a one-byte tag reads the same through every width), and a
    // tag without value reads 0.
    uint32_t getUInt32() const;
    uint16_t getUInt16() const;
    uint8_t getUInt8() const;

    // Copies the text with its NUL and returns len(); copies nothing and returns
    // 0 when dst is missing or capacity is below len(). dst always ends up
    // NUL-terminated: a value without a NUL (a non-string tag) needs one byte
    // more for the terminator. An empty value returns 0.
    int getString(char *dst, int capacity) const;

    // Copies the len() value bytes and returns len(); copies nothing and returns
    // 0 when dst is missing or capacity is below len().
    int getBytes(uint8_t *dst, int capacity) const;

protected:
    KTag(uint8_t id, int type)
        : m_id(id)
        , m_type(type)
    {
    }

    std::vector<uint8_t> m_data;

private:
    uint8_t m_id;
    int m_type;
};

class KTagNull : public KTag
{
public:
    explicit KTagNull(uint8_t id)
        : KTag(id, TYPE_NULL)
    {
    }
    int maxSize() const override { return 0; }
};

class KTagUInt8 : public KTag
{
public:
    // Keeps the low byte of value.
    KTagUInt8(uint8_t id, unsigned value);
    int maxSize() const override { return 1; }
};

class KTagUInt16 : public KTag
{
public:
    KTagUInt16(uint8_t id, uint16_t value);
    int maxSize() const override { return 2; }
};

class KTagUInt32 : public KTag
{
public:
    KTagUInt32(uint8_t id, uint32_t value);
    int maxSize() const override { return 4; }
};

class KTagString : public KTag
{
public:
    // Copies text with its NUL; longer texts are cut to 1023 characters. A
    // missing text gives the empty string.
    KTagString(uint8_t id, const char *text);
    int maxSize() const override { return kTagMaxValue; }
};

class KTagBytes : public KTag
{
public:
    // Copies at most the first 1024 of count bytes; no bytes give an empty value.
    KTagBytes(uint8_t id, const uint8_t *bytes, int count);
    int maxSize() const override { return kTagMaxValue; }
};
