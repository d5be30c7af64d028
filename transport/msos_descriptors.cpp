#include "msos_descriptors.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace msos {

namespace {

constexpr uint8_t kBosType = 0x0F;
constexpr uint8_t kDeviceCapabilityType = 0x10;
constexpr uint8_t kPlatformCapability = 0x05;
constexpr uint8_t kOs20PlatformUuid[16] = {0xDF, 0x60, 0xDD, 0xD8, 0x89, 0x45, 0xC7, 0x4C,
                                           0x9C, 0xD2, 0x65, 0x9D, 0x9E, 0x64, 0x8A, 0x9F};
constexpr uint16_t kOs20RegistryProperty = 0x04;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegMultiSz = 7;

uint16_t le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8)
            | (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// UTF-16LE strings separated by NUL characters; only ASCII matters for GUIDs
// and property names, other characters become '?'.
std::vector<std::string> utf16Strings(const uint8_t *p, int bytes)
{
    std::vector<std::string> strings;
    std::string current;
    for (int i = 0; i + 1 < bytes; i += 2) {
        const uint16_t ch = le16(p + i);
        if (ch == 0) {
            if (!current.empty())
                strings.push_back(current);
            current.clear();
        } else {
            current.push_back(ch < 0x80 ? static_cast<char>(ch) : '?');
        }
    }
    if (!current.empty())
        strings.push_back(current);
    return strings;
}

bool equalsNoCase(const std::string &a, const char *b)
{
    const size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i]))
            != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Adds the GUIDs of one registry property when its name is one of ours.
void collectProperty(uint32_t dataType, const uint8_t *name, int nameBytes, const uint8_t *data,
                     int dataBytes, std::vector<std::string> &guids)
{
    const std::vector<std::string> names = utf16Strings(name, nameBytes);
    if (names.size() != 1)
        return;
    const bool single = equalsNoCase(names[0], "DeviceInterfaceGUID");
    const bool multi = equalsNoCase(names[0], "DeviceInterfaceGUIDs");
    if (!(single || multi) || (dataType != kRegSz && dataType != kRegMultiSz))
        return;
    std::vector<std::string> values = utf16Strings(data, dataBytes);
    if (dataType == kRegSz && values.size() > 1)
        values.resize(1);
    guids.insert(guids.end(), values.begin(), values.end());
}

std::string normalisedGuid(const std::string &guid)
{
    std::string s = guid;
    if (s.size() >= 2 && s.front() == '{' && s.back() == '}')
        s = s.substr(1, s.size() - 2);
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

bool findOs20Set(const uint8_t *bos, int length, Os20SetLocation &out)
{
    if (!bos || length < 5 || bos[1] != kBosType)
        return false;
    const int total = std::min(length, static_cast<int>(le16(bos + 2)));
    bool found = false;
    int pos = bos[0];
    while (pos + 3 <= total) {
        const int capLength = bos[pos];
        if (capLength < 3 || pos + capLength > total)
            break;
        const uint8_t *cap = bos + pos;
        // bLength, bDescriptorType, bDevCapabilityType, bReserved, UUID, records.
        if (cap[1] == kDeviceCapabilityType && cap[2] == kPlatformCapability && capLength >= 20
            && std::memcmp(cap + 4, kOs20PlatformUuid, sizeof kOs20PlatformUuid) == 0) {
            for (int r = 20; r + 8 <= capLength; r += 8) {
                const uint32_t version = le32(cap + r);
                const uint16_t setLength = le16(cap + r + 4);
                if (version == 0 || setLength < 10)
                    continue;
                if (!found || version > out.windowsVersion) {
                    out.windowsVersion = version;
                    out.totalLength = setLength;
                    out.vendorCode = cap[r + 6];
                    found = true;
                }
            }
        }
        pos += capLength;
    }
    return found;
}

std::vector<std::string> os20InterfaceGuids(const uint8_t *set, int length)
{
    std::vector<std::string> guids;
    int pos = 0;
    while (set && pos + 4 <= length) {
        const int descLength = le16(set + pos);
        const uint16_t type = le16(set + pos + 2);
        if (descLength == 0 || pos + descLength > length)
            break;
        if (type == kOs20RegistryProperty && descLength >= 10) {
            const uint8_t *d = set + pos;
            const uint16_t dataType = le16(d + 4);
            const int nameBytes = le16(d + 6);
            if (8 + nameBytes + 2 <= descLength) {
                const int dataBytes = le16(d + 8 + nameBytes);
                if (10 + nameBytes + dataBytes <= descLength)
                    collectProperty(dataType, d + 8, nameBytes, d + 10 + nameBytes, dataBytes,
                                    guids);
            }
        }
        // Subset headers are stepped over by their own length, so properties
        // inside them are visited in turn.
        pos += descLength;
    }
    return guids;
}

bool parseOs10String(const uint8_t *reply, int length, uint8_t &vendorCode)
{
    static const uint8_t kSignature[14] = {'M', 0, 'S', 0, 'F', 0, 'T', 0, '1', 0, '0', 0, '0', 0};
    if (!reply || length < 18 || reply[0] < 18 || reply[1] != 0x03)
        return false;
    if (std::memcmp(reply + 2, kSignature, sizeof kSignature) != 0)
        return false;
    vendorCode = reply[16];
    return true;
}

uint32_t os10PropertiesLength(const uint8_t *header, int length)
{
    if (!header || length < 10 || le16(header + 6) != 5)
        return 0;
    const uint32_t total = le32(header);
    return total >= 10 ? total : 0;
}

std::vector<std::string> os10InterfaceGuids(const uint8_t *props, int length)
{
    std::vector<std::string> guids;
    if (os10PropertiesLength(props, length) == 0)
        return guids;
    const int total = std::min(length, static_cast<int>(le32(props)));
    const int count = le16(props + 8);
    int pos = 10;
    for (int i = 0; i < count && pos + 14 <= total; ++i) {
        const uint8_t *p = props + pos;
        const uint32_t size = le32(p);
        if (size < 14 || size > static_cast<uint32_t>(total - pos))
            break;
        const uint32_t dataType = le32(p + 4);
        const int nameBytes = le16(p + 8);
        if (10 + nameBytes + 4 <= static_cast<int>(size)) {
            const uint32_t dataBytes = le32(p + 10 + nameBytes);
            if (14 + nameBytes + dataBytes <= size)
                collectProperty(dataType, p + 10, nameBytes, p + 14 + nameBytes,
                                static_cast<int>(dataBytes), guids);
        }
        pos += static_cast<int>(size);
    }
    return guids;
}

bool sameGuid(const std::string &a, const std::string &b)
{
    return !a.empty() && normalisedGuid(a) == normalisedGuid(b);
}

bool containsGuid(const std::vector<std::string> &guids, const std::string &guid)
{
    return std::any_of(guids.begin(), guids.end(),
                       [&](const std::string &g) { return sameGuid(g, guid); });
}

} // namespace msos
