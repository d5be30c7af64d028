#pragma once

#include "emulated_key.h"

#include <QByteArray>

// Descriptor bytes an emulated key answers with, built from its config.
namespace keydesc {

constexpr uint8_t kVendorCodeOs20 = 0x20;
constexpr uint8_t kVendorCodeOs10 = 0x21;

QByteArray deviceDescriptor(const EmulatedKeyConfig &config);
// Configuration with interface 0 (vendor: bulk IN 0x81, bulk OUT 0x01,
// interrupt IN 0x82) and interface 1 (one interrupt IN 0x83).
QByteArray configurationDescriptor();
QByteArray bosDescriptor(const EmulatedKeyConfig &config);
QByteArray os20DescriptorSet(const EmulatedKeyConfig &config);
QByteArray os10String();
QByteArray os10ExtendedProperties(const EmulatedKeyConfig &config);
QByteArray os10CompatibleId();

// One DeviceInterfaceGUID(s) registry property value: UTF-16LE, NUL-terminated
// (and list-terminated for the multi-string form).
QByteArray guidPropertyData(const QString &guid, bool multiString);
QByteArray utf16z(const QString &text);

} // namespace keydesc
