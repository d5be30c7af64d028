#pragma once

#include "kmsg_ids.h"
#include "ktag.h"

#include <cstdint>
#include <memory>
#include <vector>

// A key message: type byte, tag count and the ordered tags it owns.
//
//   KMsg msg(MSG_REQUEST);
//   msg.append(std::make_unique<KTagBytes>(TAG_SCAN, nullptr, 0));
//   uint8_t buf[kMsgMaxSize];
//   int n = msg.serialize(buf, sizeof buf); // 01 01 13 05 00 00
//
//   if (auto msg = KMsg::parse(bytes, n)) {
//       msg->first();
//       while (const KTag *tag = msg->next()) ...
//   }
class KMsg
{
public:
    explicit KMsg(uint8_t type);
    ~KMsg();
    KMsg(const KMsg &) = delete;
    KMsg &operator=(const KMsg &) = delete;

    uint8_t type() const { return m_type; }
    // Number of tags held.
    int count() const { return static_cast<int>(m_tags.size()); }
    // Encoded size of all tags: sum of len() + 4.
    int total() const { return m_total; }

    // Takes ownership of tag and adds it at the end. A null tag is ignored.
    void append(std::unique_ptr<KTag> tag);
    // Builds a tag in place: msg.add<KTagUInt8>(TAG_BATTERY, 90).
    template<class T, class... Args>
    void add(Args &&...args)
    {
        append(std::make_unique<T>(std::forward<Args>(args)...));
    }

    // Moves the cursor to the first tag and returns it (null when empty).
    const KTag *first();
    // Returns the tag at the cursor and moves past it; null at the end. After
    // first() the first next() returns the first tag again.
    const KTag *next();
    // The tag at index (0-based), or null.
    const KTag *at(int index) const;

    // Writes the message and returns 2 + total(); returns 0 when it does not
    // fit capacity, exceeds 1024 bytes, or has no tags (never sent).
    int serialize(uint8_t *out, int capacity) const;

    // Parses n received bytes; null when they do not form a message whose tag
    // count matches its count byte. Never reads beyond n bytes.
    static std::unique_ptr<KMsg> parse(const uint8_t *bytes, int n);

    // Deletes all tags.
    void clear();

private:
    uint8_t m_type;
    int m_total = 0;
    std::size_t m_cursor = 0;
    std::vector<std::unique_ptr<KTag>> m_tags;
};
