#include "key_descriptors.h"

namespace keydesc {

namespace {

void put16(QByteArray &out, int value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

void put32(QByteArray &out, uint32_t value)
{
    put16(out, static_cast<int>(value & 0xFFFF));
    put16(out, static_cast<int>(value >> 16));
}

void set16(QByteArray &out, int at, int value)
{
    out[at] = static_cast<char>(value & 0xFF);
    out[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

QString propertyName(bool multiString)
{
    return multiString ? QStringLiteral("DeviceInterfaceGUIDs")
                       : QStringLiteral("DeviceInterfaceGUID");
}

constexpr uint32_t kWindows81 = 0x06030000;

} // namespace

QByteArray utf16z(const QString &text)
{
    QByteArray out;
    for (QChar c : text)
        put16(out, c.unicode());
    put16(out, 0);
    return out;
}

QByteArray guidPropertyData(const QString &guid, bool multiString)
{
    QByteArray data = utf16z(guid);
    if (multiString)
        put16(data, 0);
    return data;
}

QByteArray deviceDescriptor(const EmulatedKeyConfig &config)
{
    QByteArray d = bytes({18, 0x01});
    put16(d, config.identity == EmulatedKeyConfig::MsOs20 ? 0x0210 : 0x0200);
    d += bytes({0x00, 0x00, 0x00, 64});
    put16(d, config.vendorId);
    put16(d, config.productId);
    put16(d, 0x0100);
    d += bytes({0, 0, 0, 1});
    return d;
}

QByteArray configurationDescriptor()
{
    QByteArray c = bytes({9, 0x02, 0, 0, 2, 1, 0, 0x80, 50});
    c += bytes({9, 0x04, 0, 0, 3, 0xFF, 0x00, 0x00, 0});
    c += bytes({7, 0x05, 0x81, 0x02, 64, 0, 0});
    c += bytes({7, 0x05, 0x01, 0x02, 64, 0, 0});
    c += bytes({7, 0x05, 0x82, 0x03, 8, 0, 10});
    c += bytes({9, 0x04, 1, 0, 1, 0xFF, 0x00, 0x00, 0});
    c += bytes({7, 0x05, 0x83, 0x03, 8, 0, 10});
    set16(c, 2, c.size());
    return c;
}

QByteArray bosDescriptor(const EmulatedKeyConfig &config)
{
    QByteArray cap = bytes({28,   0x10, 0x05, 0x00, 0xDF, 0x60, 0xDD, 0xD8, 0x89, 0x45,
                            0xC7, 0x4C, 0x9C, 0xD2, 0x65, 0x9D, 0x9E, 0x64, 0x8A, 0x9F});
    put32(cap, kWindows81);
    put16(cap, os20DescriptorSet(config).size());
    cap += bytes({kVendorCodeOs20, 0});
    QByteArray bos = bytes({5, 0x0F, 0, 0, 1});
    bos += cap;
    set16(bos, 2, bos.size());
    return bos;
}

QByteArray os20DescriptorSet(const EmulatedKeyConfig &config)
{
    // Registry property inside a function subset inside a configuration
    // subset, next to the WINUSB compatible ID, as composite keys do.
    const QByteArray name = utf16z(propertyName(config.multiString));
    const QByteArray data = guidPropertyData(config.guid, config.multiString);
    QByteArray property;
    put16(property, 10 + name.size() + data.size());
    put16(property, 0x04);
    put16(property, config.multiString ? 7 : 1);
    put16(property, name.size());
    property += name;
    put16(property, data.size());
    property += data;

    QByteArray compat = bytes({20, 0, 0x03, 0});
    compat += QByteArray("WINUSB\0\0", 8) + QByteArray(8, '\0');

    QByteArray function = bytes({8, 0, 0x02, 0, 0, 0, 0, 0});
    function += compat + property;
    set16(function, 6, function.size());

    QByteArray configuration = bytes({8, 0, 0x01, 0, 0, 0, 0, 0});
    configuration += function;
    set16(configuration, 6, configuration.size());

    QByteArray set = bytes({10, 0, 0x00, 0});
    put32(set, kWindows81);
    put16(set, 0);
    set += configuration;
    set16(set, 8, set.size());
    return set;
}

QByteArray os10String()
{
    QByteArray s = bytes({18, 0x03});
    for (char c : QByteArray("MSFT100"))
        put16(s, c);
    s += bytes({kVendorCodeOs10, 0});
    return s;
}

QByteArray os10ExtendedProperties(const EmulatedKeyConfig &config)
{
    const QByteArray name = utf16z(propertyName(config.multiString));
    const QByteArray data = guidPropertyData(config.guid, config.multiString);
    QByteArray property;
    put32(property, static_cast<uint32_t>(14 + name.size() + data.size()));
    put32(property, config.multiString ? 7 : 1);
    put16(property, name.size());
    property += name;
    put32(property, static_cast<uint32_t>(data.size()));
    property += data;

    QByteArray out;
    put32(out, static_cast<uint32_t>(10 + property.size()));
    put16(out, 0x0100);
    put16(out, 0x0005);
    put16(out, 1);
    return out + property;
}

QByteArray os10CompatibleId()
{
    QByteArray out;
    put32(out, 40);
    put16(out, 0x0100);
    put16(out, 0x0004);
    out += bytes({1, 0, 0, 0, 0, 0, 0, 0});
    out += bytes({0, 1});
    out += QByteArray("WINUSB\0\0", 8) + QByteArray(8, '\0') + QByteArray(6, '\0');
    return out;
}

} // namespace keydesc
