#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Parsing of the Microsoft OS descriptors that carry a device's interface
// GUID. Pure functions over raw descriptor bytes (little-endian, UTF-16LE
// strings); the libusb side that fetches them is key_probe.h.
namespace msos {

// The device interface GUID of the key.
constexpr const char *kKeyGuid = "{42CA71EC-CE1C-44c2-82DE-87D8D8FF6C1E}";

// Where to fetch the MS OS 2.0 descriptor set from.
struct Os20SetLocation
{
    uint32_t windowsVersion = 0;
    uint16_t totalLength = 0;
    uint8_t vendorCode = 0;
};

// Finds the MS OS 2.0 platform capability in a whole BOS descriptor and picks
// its record with the highest Windows version (version 0 records are skipped).
bool findOs20Set(const uint8_t *bos, int length, Os20SetLocation &out);

// GUIDs named by DeviceInterfaceGUID / DeviceInterfaceGUIDs registry properties
// anywhere in an MS OS 2.0 descriptor set (under the set header, a
// configuration subset or a function subset).
std::vector<std::string> os20InterfaceGuids(const uint8_t *set, int length);

// Checks the reply to the string descriptor 0xEE ("MSFT100") and gives the
// vendor code for the MS OS 1.0 requests.
bool parseOs10String(const uint8_t *reply, int length, uint8_t &vendorCode);

// Total length announced by the 10-byte header of an extended properties
// descriptor, or 0 when the header is not one (wIndex must be 5).
uint32_t os10PropertiesLength(const uint8_t *header, int length);

// GUIDs named by DeviceInterfaceGUID(s) in an MS OS 1.0 extended properties
// descriptor.
std::vector<std::string> os10InterfaceGuids(const uint8_t *props, int length);

// GUID text comparison: case-insensitive, braces optional.
bool sameGuid(const std::string &a, const std::string &b);
bool containsGuid(const std::vector<std::string> &guids, const std::string &guid);

} // namespace msos
