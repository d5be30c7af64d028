#include "key_probe.h"

#include "msos_descriptors.h"

#include <vector>

namespace {

constexpr unsigned kControlTimeoutMs = 300;
constexpr uint8_t kOs20DescriptorIndex = 0x07;
constexpr uint16_t kOs10PropertiesIndex = 0x05;
constexpr uint8_t kOsStringIndex = 0xEE;

bool interfaceCouldBeKey(const libusb_interface_descriptor &alt)
{
    if (alt.bInterfaceClass != LIBUSB_CLASS_VENDOR_SPEC)
        return false;
    bool bulkIn = false;
    bool bulkOut = false;
    for (int e = 0; e < alt.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor &ep = alt.endpoint[e];
        if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
            continue;
        if (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN)
            bulkIn = true;
        else
            bulkOut = true;
    }
    return bulkIn && bulkOut;
}

bool carriesGuidOs20(libusb_device_handle *handle)
{
    uint8_t head[5] = {};
    int rc = libusb_control_transfer(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                     LIBUSB_DT_BOS << 8, 0, head, sizeof head, kControlTimeoutMs);
    if (rc < 5)
        return false;
    const uint16_t bosLength = static_cast<uint16_t>(head[2] | (head[3] << 8));
    if (bosLength < 5)
        return false;
    std::vector<uint8_t> bos(bosLength);
    rc = libusb_control_transfer(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                 LIBUSB_DT_BOS << 8, 0, bos.data(), bosLength, kControlTimeoutMs);
    if (rc < 5)
        return false;
    msos::Os20SetLocation where;
    if (!msos::findOs20Set(bos.data(), rc, where))
        return false;
    std::vector<uint8_t> set(where.totalLength);
    rc = libusb_control_transfer(
            handle, LIBUSB_ENDPOINT_IN | LIBUSB_REQUEST_TYPE_VENDOR | LIBUSB_RECIPIENT_DEVICE,
            where.vendorCode, 0, kOs20DescriptorIndex, set.data(), where.totalLength,
            kControlTimeoutMs);
    if (rc <= 0)
        return false;
    return msos::containsGuid(msos::os20InterfaceGuids(set.data(), rc), msos::kKeyGuid);
}

// Extended properties of interface 0, asked as an interface request first and
// as a device request second (some devices only answer the latter).
std::vector<std::string> os10Guids(libusb_device_handle *handle, uint8_t vendorCode)
{
    const uint8_t types[2]
            = {LIBUSB_ENDPOINT_IN | LIBUSB_REQUEST_TYPE_VENDOR | LIBUSB_RECIPIENT_INTERFACE,
               LIBUSB_ENDPOINT_IN | LIBUSB_REQUEST_TYPE_VENDOR | LIBUSB_RECIPIENT_DEVICE};
    for (uint8_t type : types) {
        uint8_t header[10] = {};
        int rc = libusb_control_transfer(handle, type, vendorCode, 0, kOs10PropertiesIndex, header,
                                         sizeof header, kControlTimeoutMs);
        const uint32_t total = rc == 10 ? msos::os10PropertiesLength(header, rc) : 0;
        if (total == 0 || total > 0xFFFF)
            continue;
        std::vector<uint8_t> props(total);
        rc = libusb_control_transfer(handle, type, vendorCode, 0, kOs10PropertiesIndex,
                                     props.data(), static_cast<uint16_t>(total), kControlTimeoutMs);
        if (rc > 0)
            return msos::os10InterfaceGuids(props.data(), rc);
    }
    return {};
}

bool carriesGuidOs10(libusb_device_handle *handle)
{
    uint8_t reply[18] = {};
    const int rc = libusb_control_transfer(
            handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
            (LIBUSB_DT_STRING << 8) | kOsStringIndex, 0, reply, sizeof reply, kControlTimeoutMs);
    uint8_t vendorCode = 0;
    if (rc < 18 || !msos::parseOs10String(reply, rc, vendorCode)) {
        // Some devices leave endpoint 0 halted after refusing the request.
        if (rc == LIBUSB_ERROR_PIPE)
            libusb_clear_halt(handle, 0);
        return false;
    }
    return msos::containsGuid(os10Guids(handle, vendorCode), msos::kKeyGuid);
}

} // namespace

bool deviceCouldBeKey(libusb_device *device)
{
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0
        && libusb_get_config_descriptor(device, 0, &config) != 0)
        return false;
    bool candidate = false;
    for (int i = 0; i < config->bNumInterfaces && !candidate; ++i) {
        const libusb_interface &intf = config->interface[i];
        for (int a = 0; a < intf.num_altsetting && !candidate; ++a)
            candidate = interfaceCouldBeKey(intf.altsetting[a]);
    }
    libusb_free_config_descriptor(config);
    return candidate;
}

bool deviceCarriesKeyGuid(libusb_device_handle *handle)
{
    libusb_device_descriptor desc {};
    if (libusb_get_device_descriptor(libusb_get_device(handle), &desc) != 0)
        return false;
    if (desc.bcdUSB >= 0x0201 && carriesGuidOs20(handle))
        return true;
    return desc.bcdUSB >= 0x0200 && carriesGuidOs10(handle);
}
