#include "key_descriptors.h"
#include "msos_descriptors.h"

#include <QtTest>

namespace {

const uint8_t *u8(const QByteArray &bytes)
{
    return reinterpret_cast<const uint8_t *>(bytes.constData());
}

std::vector<std::string> os20Guids(const QByteArray &set)
{
    return msos::os20InterfaceGuids(u8(set), set.size());
}

std::vector<std::string> os10Guids(const QByteArray &props)
{
    return msos::os10InterfaceGuids(u8(props), props.size());
}

EmulatedKeyConfig config(const QString &guid, bool multi = false)
{
    EmulatedKeyConfig c;
    c.guid = guid;
    c.multiString = multi;
    return c;
}

void put16(QByteArray &out, int v)
{
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>((v >> 8) & 0xFF));
}

// A bare registry property descriptor of an MS OS 2.0 set.
QByteArray os20Property(const QString &name, int type, const QByteArray &data)
{
    const QByteArray n = keydesc::utf16z(name);
    QByteArray p;
    put16(p, 10 + n.size() + data.size());
    put16(p, 0x04);
    put16(p, type);
    put16(p, n.size());
    p += n;
    put16(p, data.size());
    return p + data;
}

QByteArray os20Set(const QByteArray &body)
{
    QByteArray set("\x0A\x00\x00\x00\x00\x00\x03\x06", 8);
    put16(set, 10 + body.size());
    return set + body;
}

const std::string kOurs = msos::kKeyGuid;
const QString kOther = QStringLiteral("{00000000-1111-2222-3333-444444444444}");

} // namespace

class TestMsosDescriptors : public QObject
{
    Q_OBJECT
private slots:
    void platformCapability();
    void os20Properties();
    void os10Descriptors();
    void guidComparison();
    void truncatedInputNeverOverruns();
};

void TestMsosDescriptors::platformCapability()
{
    const EmulatedKeyConfig c = config(QString::fromLatin1(msos::kKeyGuid));
    const QByteArray bos = keydesc::bosDescriptor(c);
    msos::Os20SetLocation where;
    QVERIFY(msos::findOs20Set(u8(bos), bos.size(), where));
    QCOMPARE(int(where.vendorCode), int(keydesc::kVendorCodeOs20));
    QCOMPARE(int(where.totalLength), keydesc::os20DescriptorSet(c).size());

    // Another platform capability first, then ours with a version-0 record,
    // an older record and the newest one: the newest wins.
    QByteArray foreign = bos.mid(5, 28);
    foreign[5] = static_cast<char>(foreign[5] ^ 0xFF); // other UUID
    QByteArray ours = bos.mid(5, 20);
    ours[0] = static_cast<char>(20 + 3 * 8);
    ours += QByteArray("\x00\x00\x00\x00\x40\x00\x11\x00", 8); // version 0: skipped
    ours += QByteArray("\x00\x00\x03\x06\x50\x00\x22\x00", 8);
    ours += QByteArray("\x00\x00\x04\x06\x60\x00\x33\x00", 8);
    QByteArray twoCaps("\x05\x0F\x00\x00\x02", 5);
    twoCaps += foreign + ours;
    twoCaps[2] = static_cast<char>(twoCaps.size());
    QVERIFY(msos::findOs20Set(u8(twoCaps), twoCaps.size(), where));
    QCOMPARE(int(where.vendorCode), 0x33);
    QCOMPARE(int(where.totalLength), 0x60);
    QCOMPARE(where.windowsVersion, 0x06040000u);

    // Only the foreign capability: nothing found.
    QByteArray onlyForeign("\x05\x0F\x00\x00\x01", 5);
    onlyForeign += foreign;
    onlyForeign[2] = static_cast<char>(onlyForeign.size());
    QVERIFY(!msos::findOs20Set(u8(onlyForeign), onlyForeign.size(), where));
}

void TestMsosDescriptors::os20Properties()
{
    const QString ours = QString::fromLatin1(msos::kKeyGuid);
    // Inside configuration and function subsets, single and multi-string.
    QCOMPARE(os20Guids(keydesc::os20DescriptorSet(config(ours))), std::vector<std::string> {kOurs});
    QCOMPARE(os20Guids(keydesc::os20DescriptorSet(config(ours, true))),
             std::vector<std::string> {kOurs});
    QVERIFY(!msos::containsGuid(os20Guids(keydesc::os20DescriptorSet(config(kOther))), kOurs));

    // Directly under the set header; several GUIDs with ours second, and the
    // final list terminator missing.
    QByteArray multi = keydesc::utf16z(kOther) + keydesc::utf16z(ours);
    const auto guids = os20Guids(os20Set(os20Property("DeviceInterfaceGUIDs", 7, multi)));
    QCOMPARE(guids.size(), size_t(2));
    QVERIFY(msos::containsGuid(guids, kOurs));

    // Other property names and data types are not GUIDs of the device.
    const QByteArray value = keydesc::utf16z(ours);
    QVERIFY(os20Guids(os20Set(os20Property("SomethingElse", 1, value))).empty());
    QVERIFY(os20Guids(os20Set(os20Property("DeviceInterfaceGUID", 4, value))).empty());

    // A zero-length descriptor ends the walk instead of looping forever.
    QByteArray stuck = os20Set(QByteArray(4, '\0') + os20Property("DeviceInterfaceGUID", 1, value));
    QVERIFY(os20Guids(stuck).empty());
}

void TestMsosDescriptors::os10Descriptors()
{
    uint8_t vendor = 0;
    const QByteArray osString = keydesc::os10String();
    QVERIFY(msos::parseOs10String(u8(osString), osString.size(), vendor));
    QCOMPARE(int(vendor), int(keydesc::kVendorCodeOs10));
    QByteArray wrong = osString;
    wrong[4] = 'X';
    QVERIFY(!msos::parseOs10String(u8(wrong), wrong.size(), vendor));
    QVERIFY(!msos::parseOs10String(u8(osString), 10, vendor));

    const QString ours = QString::fromLatin1(msos::kKeyGuid);
    const QByteArray props = keydesc::os10ExtendedProperties(config(ours));
    QCOMPARE(msos::os10PropertiesLength(u8(props), 10), uint32_t(props.size()));
    QCOMPARE(os10Guids(props), std::vector<std::string> {kOurs});
    QCOMPARE(os10Guids(keydesc::os10ExtendedProperties(config(ours, true))),
             std::vector<std::string> {kOurs});
    QVERIFY(!msos::containsGuid(os10Guids(keydesc::os10ExtendedProperties(config(kOther))), kOurs));

    // A device that answers with its compatible ID descriptor instead.
    const QByteArray compat = keydesc::os10CompatibleId();
    QCOMPARE(msos::os10PropertiesLength(u8(compat), compat.size()), 0u);
    QVERIFY(os10Guids(compat).empty());
}

void TestMsosDescriptors::guidComparison()
{
    QVERIFY(msos::sameGuid(kOurs, "42ca71ec-ce1c-44C2-82de-87d8d8ff6c1e"));
    QVERIFY(msos::sameGuid("{42ca71ec-ce1c-44C2-82de-87d8d8ff6c1e}", kOurs));
    QVERIFY(!msos::sameGuid(kOurs, "{42CA71EC-CE1C-44c2-82DE-87D8D8FF6C1F}"));
    QVERIFY(!msos::sameGuid(kOurs, "{42CA71EC-CE1C-44c2-82DE-87D8D8FF6C1E"));
    QVERIFY(!msos::sameGuid("", ""));
}

void TestMsosDescriptors::truncatedInputNeverOverruns()
{
    // Every prefix of every descriptor, copied to a buffer of exactly that
    // size (the sanitizer build catches any read past it).
    const QString ours = QString::fromLatin1(msos::kKeyGuid);
    const QList<QByteArray> inputs {
            keydesc::bosDescriptor(config(ours)), keydesc::os20DescriptorSet(config(ours, true)),
            keydesc::os10ExtendedProperties(config(ours, true)), keydesc::os10String()};
    int found = 0;
    for (const QByteArray &whole : inputs) {
        for (int n = 0; n <= whole.size(); ++n) {
            std::vector<uint8_t> exact(whole.begin(), whole.begin() + n);
            const uint8_t *p = exact.empty() ? nullptr : exact.data();
            msos::Os20SetLocation where;
            uint8_t vendor = 0;
            found += msos::findOs20Set(p, n, where);
            found += !msos::os20InterfaceGuids(p, n).empty();
            found += !msos::os10InterfaceGuids(p, n).empty();
            found += msos::parseOs10String(p, n, vendor);
        }
    }
    // Only the complete descriptors are recognised.
    QCOMPARE(found, 4);
}

QTEST_GUILESS_MAIN(TestMsosDescriptors)
#include "tst_msos_descriptors.moc"
