// The Windows calls behind winusb::Calls, and the program's device layer on Windows.

#include "system_usb_device.h"
#include "usb_log.h"
#include "winusb_calls.h"
#include "winusb_device.h"

#include <windows.h>

#include <dbt.h>
#include <setupapi.h>
#include <winusb.h>

#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>

using namespace winusb;

namespace {

static_assert(sizeof(InterfaceData) == sizeof(SP_DEVICE_INTERFACE_DATA), "record layout");
static_assert(sizeof(InterfaceDetailHeader) == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W),
              "record layout");
static_assert(kDevicePathOffset == offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath),
              "record layout");
static_assert(sizeof(WCHAR) == sizeof(char16_t), "UTF-16 paths");
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED && kErrorGenFailure == ERROR_GEN_FAILURE
                      && kErrorSharingViolation == ERROR_SHARING_VIOLATION
                      && kErrorSemTimeout == ERROR_SEM_TIMEOUT
                      && kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER
                      && kErrorNoMoreItems == ERROR_NO_MORE_ITEMS
                      && kErrorOperationAborted == ERROR_OPERATION_ABORTED
                      && kErrorInvalidUserBuffer == ERROR_INVALID_USER_BUFFER,
              "error codes");
static_assert(int(PipeBulk) == int(UsbdPipeTypeBulk)
                      && int(PipeInterrupt) == int(UsbdPipeTypeInterrupt),
              "pipe types");

GUID toGuid(const Guid &guid)
{
    GUID result {};
    result.Data1 = guid.data1;
    result.Data2 = guid.data2;
    result.Data3 = guid.data3;
    std::memcpy(result.Data4, guid.data4, sizeof result.Data4);
    return result;
}

WinError resultOf(BOOL ok)
{
    return ok ? kSuccess : GetLastError();
}

// A message-only window on a thread of its own that receives the
// device-interface arrivals of one class.
class ArrivalWatch
{
public:
    ~ArrivalWatch() { stop(); }

    void start(const GUID &guid, std::function<void()> onArrival)
    {
        stop();
        if (!onArrival)
            return;
        guid_ = guid;
        onArrival_ = std::move(onArrival);
        std::promise<HWND> ready;
        std::future<HWND> window = ready.get_future();
        thread_ = std::thread([this, ready = std::move(ready)]() mutable { run(ready); });
        window_ = window.get();
    }

    void stop()
    {
        watchRemoval(nullptr, {});
        if (!thread_.joinable())
            return;
        if (window_)
            PostMessageW(window_, WM_CLOSE, 0, 0);
        thread_.join();
        window_ = nullptr;
        onArrival_ = nullptr;
    }

    static constexpr const wchar_t *kWindowClass = L"BoxwrightKeyArrivals";

    // Any thread; the window must exist (the watch runs).
    void watchRemoval(HANDLE file, std::function<void()> onQueryRemove)
    {
        std::lock_guard<std::mutex> guard(removalMutex_);
        if (removalRegistration_)
            UnregisterDeviceNotification(removalRegistration_);
        removalRegistration_ = nullptr;
        removalFile_ = nullptr;
        onQueryRemove_ = nullptr;
        if (!file || !onQueryRemove || !window_)
            return;
        DEV_BROADCAST_HANDLE filter {};
        filter.dbch_size = sizeof filter;
        filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
        filter.dbch_handle = file;
        removalRegistration_
                = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (!removalRegistration_)
            qCWarning(lcUsbLink) << Q_FUNC_INFO << "removal of the key not notified, error"
                                 << GetLastError()
                                 << "- disabling it in Device Manager may ask for a restart";
        removalFile_ = file;
        onQueryRemove_ = std::move(onQueryRemove);
    }

private:
    void queryRemove(HANDLE file)
    {
        std::function<void()> callback;
        {
            std::lock_guard<std::mutex> guard(removalMutex_);
            if (file && file == removalFile_)
                callback = onQueryRemove_;
        }
        // Outside the lock: the callback closes the handle, which ends the watch of it.
        if (callback)
            callback();
    }

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto *self = reinterpret_cast<ArrivalWatch *>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_CLOSE && self) {
            // Notifications end before the window they go to.
            if (self->registration_)
                UnregisterDeviceNotification(self->registration_);
            self->registration_ = nullptr;
            DestroyWindow(window);
            return 0;
        }
        if (message == WM_DESTROY) {
            PostQuitMessage(0);
            return 0;
        }
        if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEQUERYREMOVE && self && lParam) {
            const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(lParam);
            if (header->dbch_devicetype == DBT_DEVTYP_HANDLE)
                self->queryRemove(
                        reinterpret_cast<const DEV_BROADCAST_HANDLE *>(lParam)->dbch_handle);
            return TRUE; // the removal may go on
        }
        if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL && self && lParam) {
            const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(lParam);
            if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
                const auto *arrived
                        = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W *>(lParam);
                if (IsEqualGUID(arrived->dbcc_classguid, self->guid_))
                    self->onArrival_();
            }
            return TRUE;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    void run(std::promise<HWND> &ready)
    {
        const HINSTANCE module = GetModuleHandleW(nullptr);
        WNDCLASSEXW windowClass {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = module;
        windowClass.lpszClassName = kWindowClass;
        // A second device in the process finds the class already there.
        RegisterClassExW(&windowClass);
        HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      module, nullptr);
        if (!window) {
            qCWarning(lcUsbLink) << Q_FUNC_INFO << "no window for key arrivals, error"
                                 << GetLastError() << "- the search runs once a second";
            ready.set_value(nullptr);
            return;
        }
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        DEV_BROADCAST_DEVICEINTERFACE_W filter {};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = guid_;
        registration_ = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (!registration_)
            qCWarning(lcUsbLink) << Q_FUNC_INFO << "key arrivals not notified, error"
                                 << GetLastError() << "- the search runs once a second";
        ready.set_value(window);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
    }

    GUID guid_ {};
    std::function<void()> onArrival_;
    std::thread thread_;
    HWND window_ = nullptr;
    HDEVNOTIFY registration_ = nullptr; // used on the watch thread only
    std::mutex removalMutex_;
    HDEVNOTIFY removalRegistration_ = nullptr; // guarded by removalMutex_
    HANDLE removalFile_ = nullptr; // guarded by removalMutex_
    std::function<void()> onQueryRemove_; // guarded by removalMutex_
};

class SystemCalls : public Calls
{
public:
    ~SystemCalls() override
    {
        arrivals_.stop();
        if (readEvent_)
            CloseHandle(readEvent_);
    }

    Handle getPresentInterfaces(const Guid &guid) override
    {
        const GUID classGuid = toGuid(guid);
        HDEVINFO set = SetupDiGetClassDevsW(&classGuid, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        return set == INVALID_HANDLE_VALUE ? nullptr : set;
    }

    WinError enumDeviceInterface(Handle set, const Guid &guid, uint32_t index,
                                 InterfaceData &data) override
    {
        const GUID classGuid = toGuid(guid);
        SP_DEVICE_INTERFACE_DATA record;
        std::memcpy(&record, &data, sizeof record);
        const WinError result
                = resultOf(SetupDiEnumDeviceInterfaces(set, nullptr, &classGuid, index, &record));
        std::memcpy(&data, &record, sizeof record);
        return result;
    }

    WinError getInterfaceDetail(Handle set, const InterfaceData &data, void *detail,
                                uint32_t detailSize, uint32_t *requiredSize) override
    {
        SP_DEVICE_INTERFACE_DATA record;
        std::memcpy(&record, &data, sizeof record);
        DWORD required = 0;
        const WinError result = resultOf(SetupDiGetDeviceInterfaceDetailW(
                set, &record, static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail), detailSize,
                &required, nullptr));
        if (requiredSize)
            *requiredSize = required;
        return result;
    }

    void destroyDeviceInfoList(Handle set) override { SetupDiDestroyDeviceInfoList(set); }

    void *localAlloc(size_t size) override { return LocalAlloc(LMEM_FIXED, size); }
    void localFree(void *memory) override { LocalFree(memory); }

    WinError createFile(const char16_t *path, Handle &file) override
    {
        const std::wstring widePath(path, path + std::char_traits<char16_t>::length(path));
        HANDLE opened = CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (opened == INVALID_HANDLE_VALUE)
            return GetLastError();
        file = opened;
        return kSuccess;
    }

    void closeHandle(Handle file) override { CloseHandle(file); }

    WinError initialize(Handle file, Handle &iface) override
    {
        WINUSB_INTERFACE_HANDLE handle = nullptr;
        const WinError result = resultOf(WinUsb_Initialize(file, &handle));
        iface = handle;
        return result;
    }

    void freeInterface(Handle iface) override { WinUsb_Free(iface); }

    WinError queryDeviceSpeed(Handle iface, uint8_t &speed) override
    {
        ULONG length = sizeof speed;
        return resultOf(WinUsb_QueryDeviceInformation(iface, DEVICE_SPEED, &length, &speed));
    }

    WinError getAssociatedInterface(Handle iface, uint8_t index, Handle &associated) override
    {
        WINUSB_INTERFACE_HANDLE handle = nullptr;
        const WinError result = resultOf(WinUsb_GetAssociatedInterface(iface, index, &handle));
        associated = handle;
        return result;
    }

    WinError queryInterfaceSettings(Handle iface, uint8_t alternateSetting,
                                    InterfaceDescriptor &descriptor) override
    {
        USB_INTERFACE_DESCRIPTOR settings {};
        const WinError result
                = resultOf(WinUsb_QueryInterfaceSettings(iface, alternateSetting, &settings));
        descriptor = {settings.bLength,
                      settings.bDescriptorType,
                      settings.bInterfaceNumber,
                      settings.bAlternateSetting,
                      settings.bNumEndpoints,
                      settings.bInterfaceClass,
                      settings.bInterfaceSubClass,
                      settings.bInterfaceProtocol,
                      settings.iInterface};
        return result;
    }

    WinError queryPipe(Handle iface, uint8_t alternateSetting, uint8_t pipeIndex,
                       PipeInformation &pipe) override
    {
        WINUSB_PIPE_INFORMATION information {};
        const WinError result
                = resultOf(WinUsb_QueryPipe(iface, alternateSetting, pipeIndex, &information));
        pipe = {static_cast<PipeType>(information.PipeType), information.PipeId,
                information.MaximumPacketSize, information.Interval};
        return result;
    }

    WinError setPipeTimeout(Handle iface, uint8_t pipeId, uint32_t timeoutMs) override
    {
        ULONG value = timeoutMs;
        return resultOf(
                WinUsb_SetPipePolicy(iface, pipeId, PIPE_TRANSFER_TIMEOUT, sizeof value, &value));
    }

    WinError startRead(Handle iface, uint8_t pipeId, uint8_t *buffer, uint32_t size) override
    {
        if (!readEvent_)
            readEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!readEvent_)
            return GetLastError();
        ResetEvent(readEvent_);
        read_ = OVERLAPPED {};
        read_.hEvent = readEvent_;
        if (WinUsb_ReadPipe(iface, pipeId, buffer, size, nullptr, &read_))
            return kSuccess;
        const DWORD error = GetLastError();
        return error == ERROR_IO_PENDING ? kSuccess : error;
    }

    WinError finishRead(Handle iface, uint32_t &transferred) override
    {
        DWORD count = 0;
        const WinError result = resultOf(WinUsb_GetOverlappedResult(iface, &read_, &count, TRUE));
        transferred = count;
        return result;
    }

    WinError writePipe(Handle iface, uint8_t pipeId, const uint8_t *buffer, uint32_t size,
                       uint32_t &transferred) override
    {
        ULONG count = 0;
        const WinError result = resultOf(
                WinUsb_WritePipe(iface, pipeId, const_cast<PUCHAR>(buffer), size, &count, nullptr));
        transferred = count;
        return result;
    }

    WinError abortPipe(Handle iface, uint8_t pipeId) override
    {
        return resultOf(WinUsb_AbortPipe(iface, pipeId));
    }

    WinError resetPipe(Handle iface, uint8_t pipeId) override
    {
        return resultOf(WinUsb_ResetPipe(iface, pipeId));
    }

    void watchArrivals(const Guid &guid, std::function<void()> onArrival) override
    {
        std::lock_guard<std::mutex> guard(watchMutex_);
        arrivals_.start(toGuid(guid), std::move(onArrival));
    }

    void watchRemoval(Handle file, std::function<void()> onQueryRemove) override
    {
        std::lock_guard<std::mutex> guard(watchMutex_);
        arrivals_.watchRemoval(file, std::move(onQueryRemove));
    }

private:
    HANDLE readEvent_ = nullptr;
    OVERLAPPED read_ {}; // the one read in flight
    std::mutex watchMutex_; // the watch starts and stops on different threads
    ArrivalWatch arrivals_;
};

} // namespace

QString usbStackDescription()
{
    return QStringLiteral("WinUSB");
}

std::unique_ptr<Calls> winusb::makeSystemCalls()
{
    return std::make_unique<SystemCalls>();
}

std::unique_ptr<UsbDevice> makeSystemUsbDevice()
{
    return std::make_unique<WinUsbDevice>(makeSystemCalls());
}
