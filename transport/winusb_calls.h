#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// The SetupAPI, WinUSB and kernel calls the Windows device layer makes, behind
// an interface so its logic also builds and runs where windows.h does not
// exist. Types are the calls' own, spelt with fixed-width integers.
namespace winusb {

// HANDLE, HDEVINFO and WINUSB_INTERFACE_HANDLE. Null stands for every invalid value.
using Handle = void *;
// A Windows error code (GetLastError); 0 on success.
using WinError = uint32_t;

constexpr WinError kSuccess = 0;
constexpr WinError kErrorAccessDenied = 5;
constexpr WinError kErrorGenFailure = 31; // a halted (stalled) pipe
constexpr WinError kErrorSharingViolation = 32;
constexpr WinError kErrorSemTimeout = 121; // a pipe's transfer time-out ran out
constexpr WinError kErrorInsufficientBuffer = 122;
constexpr WinError kErrorNoMoreItems = 259;
constexpr WinError kErrorOperationAborted = 995;
constexpr WinError kErrorInvalidUserBuffer = 1784;

struct Guid
{
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

bool operator==(const Guid &a, const Guid &b);

// The key's device interface class.
constexpr Guid kKeyInterfaceGuid {
        0x42CA71EC, 0xCE1C, 0x44C2, {0x82, 0xDE, 0x87, 0xD8, 0xD8, 0xFF, 0x6C, 0x1E}};

// SP_DEVICE_INTERFACE_DATA.
struct InterfaceData
{
    uint32_t cbSize;
    Guid interfaceClassGuid;
    uint32_t flags;
    uintptr_t reserved;
};

// The fixed part of SP_DEVICE_INTERFACE_DETAIL_DATA_W. SetupAPI packs its
// records to 1 byte on 32-bit Windows and to 8 on 64-bit, so the size the
// record's cbSize must carry is 6 or 8 with the build's pointer size.
#if UINTPTR_MAX == 0xFFFFFFFFu
#pragma pack(push, 1)
#endif
struct InterfaceDetailHeader
{
    uint32_t cbSize;
    char16_t devicePath[1];
};
#if UINTPTR_MAX == 0xFFFFFFFFu
#pragma pack(pop)
#endif
constexpr size_t kDevicePathOffset = offsetof(InterfaceDetailHeader, devicePath);

// USB_INTERFACE_DESCRIPTOR.
struct InterfaceDescriptor
{
    uint8_t bLength;
    uint8_t bDescriptorType;
    uint8_t bInterfaceNumber;
    uint8_t bAlternateSetting;
    uint8_t bNumEndpoints;
    uint8_t bInterfaceClass;
    uint8_t bInterfaceSubClass;
    uint8_t bInterfaceProtocol;
    uint8_t iInterface;
};

// WINUSB_PIPE_INFORMATION.
enum PipeType : int { PipeControl = 0, PipeIsochronous = 1, PipeBulk = 2, PipeInterrupt = 3 };
struct PipeInformation
{
    PipeType pipeType;
    uint8_t pipeId;
    uint16_t maximumPacketSize;
    uint8_t interval;
};

class Calls
{
public:
    virtual ~Calls() = default;

    // SetupDiGetClassDevsW(guid, no enumerator, no window, DIGCF_PRESENT |
    // DIGCF_DEVICEINTERFACE). Null when the set is invalid.
    virtual Handle getPresentInterfaces(const Guid &guid) = 0;
    // SetupDiEnumDeviceInterfaces(set, no device, guid, index, data).
    virtual WinError enumDeviceInterface(Handle set, const Guid &guid, uint32_t index,
                                         InterfaceData &data)
            = 0;
    // SetupDiGetDeviceInterfaceDetailW(set, data, detail, detailSize,
    // requiredSize, no device). detail starts with an InterfaceDetailHeader.
    virtual WinError getInterfaceDetail(Handle set, const InterfaceData &data, void *detail,
                                        uint32_t detailSize, uint32_t *requiredSize)
            = 0;
    virtual void destroyDeviceInfoList(Handle set) = 0;

    // LocalAlloc(LMEM_FIXED, size) and LocalFree.
    virtual void *localAlloc(size_t size) = 0;
    virtual void localFree(void *memory) = 0;

    // CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ |
    // FILE_SHARE_WRITE, no security, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL |
    // FILE_FLAG_OVERLAPPED, no template). path is zero-terminated.
    virtual WinError createFile(const char16_t *path, Handle &file) = 0;
    virtual void closeHandle(Handle file) = 0;

    virtual WinError initialize(Handle file, Handle &iface) = 0; // WinUsb_Initialize
    virtual void freeInterface(Handle iface) = 0; // WinUsb_Free
    // WinUsb_QueryDeviceInformation(DEVICE_SPEED) into one byte.
    virtual WinError queryDeviceSpeed(Handle iface, uint8_t &speed) = 0;
    virtual WinError getAssociatedInterface(Handle iface, uint8_t index, Handle &associated) = 0;
    virtual WinError queryInterfaceSettings(Handle iface, uint8_t alternateSetting,
                                            InterfaceDescriptor &descriptor)
            = 0;
    virtual WinError queryPipe(Handle iface, uint8_t alternateSetting, uint8_t pipeIndex,
                               PipeInformation &pipe)
            = 0;
    // WinUsb_SetPipePolicy(PIPE_TRANSFER_TIMEOUT): a transfer on the pipe that
    // takes longer fails with kErrorSemTimeout.
    virtual WinError setPipeTimeout(Handle iface, uint8_t pipeId, uint32_t timeoutMs) = 0;
    // WinUsb_ReadPipe with an OVERLAPPED of the calls' own (one read at a
    // time); kSuccess when the read is under way or already done.
    virtual WinError startRead(Handle iface, uint8_t pipeId, uint8_t *buffer, uint32_t size) = 0;
    // WinUsb_GetOverlappedResult waiting for the started read to end.
    // WinUsb_AbortPipe from another thread ends it with kErrorOperationAborted.
    virtual WinError finishRead(Handle iface, uint32_t &transferred) = 0;
    // WinUsb_WritePipe, without an OVERLAPPED.
    virtual WinError writePipe(Handle iface, uint8_t pipeId, const uint8_t *buffer, uint32_t size,
                               uint32_t &transferred)
            = 0;
    virtual WinError abortPipe(Handle iface, uint8_t pipeId) = 0;
    virtual WinError resetPipe(Handle iface, uint8_t pipeId) = 0;

    // Calls onArrival, from a thread of its own, whenever a device interface
    // of the class arrives. An empty function ends the watch (joined on return).
    virtual void watchArrivals(const Guid &guid, std::function<void()> onArrival) = 0;

    // RegisterDeviceNotification for the handle file (DBT_DEVTYP_HANDLE) on the
    // arrival watch's window: onQueryRemove runs on the watch's thread when
    // Windows asks to remove the device (DBT_DEVICEQUERYREMOVE: disabled in
    // Device Manager, driver update); the handle must be closed before it
    // returns. A null file or empty function ends it. Only while the arrival
    // watch runs.
    virtual void watchRemoval(Handle file, std::function<void()> onQueryRemove) = 0;
};

// Windows' own calls (only where windows.h exists).
std::unique_ptr<Calls> makeSystemCalls();

} // namespace winusb
