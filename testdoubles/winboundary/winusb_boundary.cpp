// WinUSB's calls on a named pipe: the device path the program opened with
// CreateFileW is the pipe's client end, and transfers are overlapped
// ReadFile/WriteFile on it, so events, waits, completion and cancellation are
// the system's own. The key side writes one marked message per transfer
// (win_boundary.h); what the pipe reports becomes the error WinUSB gives:
//   pipe broken, closed or disconnected -> ERROR_BAD_COMMAND (the device is gone)
//   StallIn / StallOut marker            -> ERROR_GEN_FAILURE until WinUsb_ResetPipe
//   PIPE_TRANSFER_TIMEOUT runs out       -> ERROR_SEM_TIMEOUT (the transfer is cancelled)

#include "win_boundary.h"

#include <winusb.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <set>

using namespace winboundary;

namespace {

constexpr DWORD kDescriptorWaitMs = 5000;
constexpr uint8_t kDirectionIn = 0x80;

struct Endpoint
{
    uint8_t address;
    uint8_t attributes;
    uint16_t maxPacket;
    uint8_t interval;
};

struct Interface
{
    USB_INTERFACE_DESCRIPTOR descriptor;
    std::vector<Endpoint> endpoints;
};

struct Device
{
    HANDLE file = nullptr;
    std::vector<Interface> interfaces;
    std::mutex mutex;
    bool stalledIn = false;
    bool stalledOut = false;
    ULONG outTimeoutMs = 0; // 0: no limit, as WinUSB's default
    // The read in flight: the caller's OVERLAPPED, its buffer, and the
    // staging buffer the marked message lands in.
    OVERLAPPED *read = nullptr;
    PUCHAR readBuffer = nullptr;
    std::vector<char> staging;
    std::mutex writeMutex;
    OVERLAPPED *write = nullptr; // the write in flight, for WinUsb_AbortPipe
};

struct Handle
{
    std::shared_ptr<Device> device;
    size_t index;
};

std::mutex handlesMutex;
std::set<Handle *> handles;

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

DWORD usbError(DWORD pipeError)
{
    switch (pipeError) {
    case ERROR_BROKEN_PIPE:
    case ERROR_PIPE_NOT_CONNECTED:
    case ERROR_NO_DATA:
    case ERROR_INVALID_HANDLE:
        return ERROR_BAD_COMMAND;
    default:
        return pipeError;
    }
}

Handle *handleOf(WINUSB_INTERFACE_HANDLE raw)
{
    auto *handle = static_cast<Handle *>(raw);
    std::lock_guard<std::mutex> guard(handlesMutex);
    return handles.count(handle) ? handle : nullptr;
}

WINUSB_INTERFACE_HANDLE newHandle(std::shared_ptr<Device> device, size_t index)
{
    auto *handle = new Handle {std::move(device), index};
    std::lock_guard<std::mutex> guard(handlesMutex);
    handles.insert(handle);
    return handle;
}

const Endpoint *endpointOf(const Handle &handle, UCHAR pipeId)
{
    for (const Endpoint &endpoint : handle.device->interfaces[handle.index].endpoints)
        if (endpoint.address == pipeId)
            return &endpoint;
    return nullptr;
}

// Interfaces and endpoints of a configuration descriptor.
std::vector<Interface> parseConfiguration(const unsigned char *bytes, size_t size)
{
    std::vector<Interface> interfaces;
    size_t at = 0;
    while (at + 2 <= size && bytes[at] >= 2 && at + bytes[at] <= size) {
        const unsigned char length = bytes[at];
        const unsigned char type = bytes[at + 1];
        if (type == USB_INTERFACE_DESCRIPTOR_TYPE && length >= sizeof(USB_INTERFACE_DESCRIPTOR)) {
            Interface added {};
            std::memcpy(&added.descriptor, bytes + at, sizeof added.descriptor);
            interfaces.push_back(added);
        } else if (type == USB_ENDPOINT_DESCRIPTOR_TYPE && length >= 7 && !interfaces.empty()) {
            interfaces.back().endpoints.push_back(
                    {bytes[at + 2], bytes[at + 3],
                     static_cast<uint16_t>(bytes[at + 4] | bytes[at + 5] << 8), bytes[at + 6]});
        }
        at += length;
    }
    return interfaces;
}

// Waits for the transfer on the device's file; false with the error set when it failed.
BOOL overlappedResult(HANDLE file, OVERLAPPED *overlapped, DWORD *transferred, BOOL wait)
{
    if (GetOverlappedResult(file, overlapped, transferred, wait))
        return TRUE;
    const DWORD error = GetLastError();
    return fail(error == ERROR_IO_INCOMPLETE ? error : usbError(error));
}

// Starts a read of the next marked message into the staging buffer.
BOOL startStagedRead(Device &device)
{
    if (ReadFile(device.file, device.staging.data(), static_cast<DWORD>(device.staging.size()),
                 nullptr, device.read)
        || GetLastError() == ERROR_IO_PENDING)
        return TRUE;
    return fail(usbError(GetLastError()));
}

} // namespace

void winboundary::cancelPendingReads()
{
    std::lock_guard<std::mutex> guard(handlesMutex);
    for (Handle *handle : handles) {
        std::lock_guard<std::mutex> deviceGuard(handle->device->mutex);
        if (handle->device->read)
            CancelIoEx(handle->device->file, handle->device->read);
    }
}

extern "C" {

BOOL WINAPI WinUsb_Initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE result)
{
    if (!file || file == INVALID_HANDLE_VALUE || !result)
        return fail(ERROR_INVALID_HANDLE);
    // One message per transfer, as the key side writes them.
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(file, &mode, nullptr, nullptr))
        return fail(usbError(GetLastError()));
    // The key side sends its configuration descriptor first.
    std::vector<char> message(1024);
    OVERLAPPED overlapped {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD got = 0;
    BOOL ok = ReadFile(file, message.data(), static_cast<DWORD>(message.size()), nullptr,
                       &overlapped);
    if (ok || GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, kDescriptorWaitMs) != WAIT_OBJECT_0)
            CancelIoEx(file, &overlapped);
        ok = GetOverlappedResult(file, &overlapped, &got, TRUE);
    }
    const DWORD error = GetLastError();
    CloseHandle(overlapped.hEvent);
    if (!ok)
        return fail(usbError(error));
    if (got < 1 || message[0] != Descriptor)
        return fail(ERROR_GEN_FAILURE);
    auto device = std::make_shared<Device>();
    device->file = file;
    device->interfaces = parseConfiguration(
            reinterpret_cast<const unsigned char *>(message.data()) + 1, got - 1);
    if (device->interfaces.empty())
        return fail(ERROR_GEN_FAILURE);
    *result = newHandle(std::move(device), 0);
    return TRUE;
}

BOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE raw)
{
    Handle *handle = handleOf(raw);
    if (!handle)
        return fail(ERROR_INVALID_HANDLE);
    {
        std::lock_guard<std::mutex> guard(handle->device->mutex);
        if (handle->device->read)
            addViolation("WinUsb_Free with a read in flight: its OVERLAPPED may be freed "
                         "before the read ends");
    }
    {
        std::lock_guard<std::mutex> guard(handlesMutex);
        handles.erase(handle);
    }
    delete handle;
    return TRUE;
}

BOOL WINAPI WinUsb_GetAssociatedInterface(WINUSB_INTERFACE_HANDLE raw, UCHAR index,
                                          PWINUSB_INTERFACE_HANDLE associated)
{
    Handle *handle = handleOf(raw);
    if (!handle || !associated)
        return fail(ERROR_INVALID_HANDLE);
    if (handle->index != 0)
        return fail(ERROR_INVALID_PARAMETER);
    if (size_t(index) + 1 >= handle->device->interfaces.size())
        return fail(ERROR_NO_MORE_ITEMS);
    *associated = newHandle(handle->device, size_t(index) + 1);
    return TRUE;
}

BOOL WINAPI WinUsb_QueryDeviceInformation(WINUSB_INTERFACE_HANDLE raw, ULONG type, PULONG length,
                                          PVOID buffer)
{
    if (!handleOf(raw))
        return fail(ERROR_INVALID_HANDLE);
    if (type != DEVICE_SPEED || !length || *length < 1 || !buffer)
        return fail(ERROR_INVALID_PARAMETER);
    *static_cast<UCHAR *>(buffer) = FullSpeed;
    *length = 1;
    return TRUE;
}

BOOL WINAPI WinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE raw, UCHAR alternate,
                                          PUSB_INTERFACE_DESCRIPTOR descriptor)
{
    Handle *handle = handleOf(raw);
    if (!handle || !descriptor)
        return fail(ERROR_INVALID_HANDLE);
    if (alternate != 0)
        return fail(ERROR_NO_MORE_ITEMS);
    *descriptor = handle->device->interfaces[handle->index].descriptor;
    return TRUE;
}

BOOL WINAPI WinUsb_QueryPipe(WINUSB_INTERFACE_HANDLE raw, UCHAR alternate, UCHAR index,
                             PWINUSB_PIPE_INFORMATION pipe)
{
    Handle *handle = handleOf(raw);
    if (!handle || !pipe)
        return fail(ERROR_INVALID_HANDLE);
    const auto &endpoints = handle->device->interfaces[handle->index].endpoints;
    if (alternate != 0 || index >= endpoints.size())
        return fail(ERROR_NO_MORE_ITEMS);
    const Endpoint &endpoint = endpoints[index];
    pipe->PipeType = static_cast<USBD_PIPE_TYPE>(endpoint.attributes & 3);
    pipe->PipeId = endpoint.address;
    pipe->MaximumPacketSize = endpoint.maxPacket;
    pipe->Interval = endpoint.interval;
    return TRUE;
}

BOOL WINAPI WinUsb_SetPipePolicy(WINUSB_INTERFACE_HANDLE raw, UCHAR pipeId, ULONG policy,
                                 ULONG length, PVOID value)
{
    Handle *handle = handleOf(raw);
    if (!handle)
        return fail(ERROR_INVALID_HANDLE);
    if (!endpointOf(*handle, pipeId))
        return fail(ERROR_INVALID_PARAMETER);
    if (policy == PIPE_TRANSFER_TIMEOUT) {
        if (length != sizeof(ULONG) || !value)
            return fail(ERROR_INVALID_PARAMETER);
        if (!(pipeId & kDirectionIn)) {
            std::lock_guard<std::mutex> guard(handle->device->mutex);
            std::memcpy(&handle->device->outTimeoutMs, value, sizeof(ULONG));
        }
    }
    return TRUE;
}

BOOL WINAPI WinUsb_ReadPipe(WINUSB_INTERFACE_HANDLE raw, UCHAR pipeId, PUCHAR buffer, ULONG length,
                            PULONG transferred, LPOVERLAPPED overlapped)
{
    Handle *handle = handleOf(raw);
    if (!handle)
        return fail(ERROR_INVALID_HANDLE);
    const Endpoint *endpoint = endpointOf(*handle, pipeId);
    if (!endpoint || !(pipeId & kDirectionIn) || !buffer)
        return fail(ERROR_INVALID_PARAMETER);
    if (!overlapped || transferred) {
        addViolation("WinUsb_ReadPipe without an OVERLAPPED of its own");
        return fail(ERROR_INVALID_PARAMETER);
    }
    Device &device = *handle->device;
    std::lock_guard<std::mutex> guard(device.mutex);
    if (device.stalledIn)
        return fail(ERROR_GEN_FAILURE);
    if (device.read) {
        addViolation("WinUsb_ReadPipe while a read is in flight");
        return fail(ERROR_INVALID_PARAMETER);
    }
    device.read = overlapped;
    device.readBuffer = buffer;
    device.staging.assign(size_t(length) + 1, 0);
    if (!startStagedRead(device)) {
        device.read = nullptr;
        return FALSE;
    }
    // Done or not, the bytes reach the caller through WinUsb_GetOverlappedResult.
    return fail(ERROR_IO_PENDING);
}

BOOL WINAPI WinUsb_GetOverlappedResult(WINUSB_INTERFACE_HANDLE raw, LPOVERLAPPED overlapped,
                                       LPDWORD transferred, BOOL wait)
{
    Handle *handle = handleOf(raw);
    if (!handle || !overlapped || !transferred)
        return fail(ERROR_INVALID_PARAMETER);
    Device &device = *handle->device;
    {
        std::lock_guard<std::mutex> guard(device.mutex);
        if (device.read != overlapped) {
            addViolation("WinUsb_GetOverlappedResult for an OVERLAPPED without a read");
            return fail(ERROR_INVALID_PARAMETER);
        }
    }
    for (;;) {
        DWORD got = 0;
        // The wait runs without the lock, so WinUsb_AbortPipe can cancel it.
        const BOOL ok = overlappedResult(device.file, overlapped, &got, wait);
        std::lock_guard<std::mutex> guard(device.mutex);
        if (!ok) {
            if (GetLastError() != ERROR_IO_INCOMPLETE)
                device.read = nullptr;
            return FALSE;
        }
        const char marker = got > 0 ? device.staging[0] : char(Packet);
        if (marker == StallOut || marker == Descriptor) {
            device.stalledOut = device.stalledOut || marker == StallOut;
            if (!startStagedRead(device)) {
                device.read = nullptr;
                return FALSE;
            }
            continue;
        }
        device.read = nullptr;
        if (marker == StallIn) {
            device.stalledIn = true;
            return fail(ERROR_GEN_FAILURE);
        }
        *transferred = got > 0 ? got - 1 : 0;
        std::memcpy(device.readBuffer, device.staging.data() + 1, *transferred);
        return TRUE;
    }
}

BOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE raw, UCHAR pipeId, PUCHAR buffer, ULONG length,
                             PULONG transferred, LPOVERLAPPED overlapped)
{
    Handle *handle = handleOf(raw);
    if (!handle)
        return fail(ERROR_INVALID_HANDLE);
    const Endpoint *endpoint = endpointOf(*handle, pipeId);
    if (!endpoint || (pipeId & kDirectionIn) || (length > 0 && !buffer))
        return fail(ERROR_INVALID_PARAMETER);
    if (overlapped) {
        addViolation("WinUsb_WritePipe with an OVERLAPPED: the program writes synchronously");
        return fail(ERROR_INVALID_PARAMETER);
    }
    Device &device = *handle->device;
    std::lock_guard<std::mutex> writing(device.writeMutex);
    ULONG timeoutMs = 0;
    {
        std::lock_guard<std::mutex> guard(device.mutex);
        if (device.stalledOut)
            return fail(ERROR_GEN_FAILURE);
        timeoutMs = device.outTimeoutMs;
    }
    OVERLAPPED write {};
    write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        std::lock_guard<std::mutex> guard(device.mutex);
        device.write = &write;
    }
    BOOL ok = WriteFile(device.file, buffer, length, nullptr, &write);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    bool timedOut = false;
    DWORD written = 0;
    if (ok || error == ERROR_IO_PENDING) {
        if (WaitForSingleObject(write.hEvent, timeoutMs ? timeoutMs : INFINITE) == WAIT_TIMEOUT) {
            timedOut = true;
            CancelIoEx(device.file, &write);
        }
        ok = GetOverlappedResult(device.file, &write, &written, TRUE);
        error = ok ? ERROR_SUCCESS : GetLastError();
    }
    {
        std::lock_guard<std::mutex> guard(device.mutex);
        device.write = nullptr;
    }
    CloseHandle(write.hEvent);
    if (transferred)
        *transferred = written;
    if (ok)
        return TRUE;
    return fail(timedOut ? ERROR_SEM_TIMEOUT : usbError(error));
}

BOOL WINAPI WinUsb_AbortPipe(WINUSB_INTERFACE_HANDLE raw, UCHAR pipeId)
{
    Handle *handle = handleOf(raw);
    if (!handle)
        return fail(ERROR_INVALID_HANDLE);
    if (!endpointOf(*handle, pipeId))
        return fail(ERROR_INVALID_PARAMETER);
    Device &device = *handle->device;
    std::lock_guard<std::mutex> guard(device.mutex);
    OVERLAPPED *pending = pipeId & kDirectionIn ? device.read : device.write;
    // The transfer ends with ERROR_OPERATION_ABORTED for whoever waits for it.
    if (pending)
        CancelIoEx(device.file, pending);
    return TRUE;
}

BOOL WINAPI WinUsb_ResetPipe(WINUSB_INTERFACE_HANDLE raw, UCHAR pipeId)
{
    Handle *handle = handleOf(raw);
    if (!handle)
        return fail(ERROR_INVALID_HANDLE);
    if (!endpointOf(*handle, pipeId))
        return fail(ERROR_INVALID_PARAMETER);
    Device &device = *handle->device;
    std::lock_guard<std::mutex> guard(device.mutex);
    (pipeId & kDirectionIn ? device.stalledIn : device.stalledOut) = false;
    return TRUE;
}

// Defined here, the import library's entries are never linked.
#define BW_IMPORT_POINTER(name) decltype(&name) __imp_##name = &name;
BW_IMPORT_POINTER(WinUsb_Initialize)
BW_IMPORT_POINTER(WinUsb_Free)
BW_IMPORT_POINTER(WinUsb_GetAssociatedInterface)
BW_IMPORT_POINTER(WinUsb_QueryDeviceInformation)
BW_IMPORT_POINTER(WinUsb_QueryInterfaceSettings)
BW_IMPORT_POINTER(WinUsb_QueryPipe)
BW_IMPORT_POINTER(WinUsb_SetPipePolicy)
BW_IMPORT_POINTER(WinUsb_ReadPipe)
BW_IMPORT_POINTER(WinUsb_GetOverlappedResult)
BW_IMPORT_POINTER(WinUsb_WritePipe)
BW_IMPORT_POINTER(WinUsb_AbortPipe)
BW_IMPORT_POINTER(WinUsb_ResetPipe)

} // extern "C"
