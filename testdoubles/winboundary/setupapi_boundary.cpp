// SetupAPI's device interface enumeration over the interfaces that the tests add.

#include "win_boundary.h"

#define _SETUPAPI_
#include <setupapi.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <set>

namespace {

struct Entry
{
    int id;
    GUID guid;
    std::wstring path;
};

struct DeviceSet
{
    std::vector<Entry> entries;
};

std::mutex mutex;
std::vector<Entry> present;
std::set<DeviceSet *> openSets;
std::vector<std::string> violations;
int nextId = 1;

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

DeviceSet *setOf(HDEVINFO handle)
{
    auto *set = static_cast<DeviceSet *>(handle);
    std::lock_guard<std::mutex> guard(mutex);
    return openSets.count(set) ? set : nullptr;
}

} // namespace

namespace winboundary {

int addInterface(const GUID &guid, const std::wstring &path)
{
    std::lock_guard<std::mutex> guard(mutex);
    present.push_back({nextId, guid, path});
    return nextId++;
}

void removeInterface(int id)
{
    std::lock_guard<std::mutex> guard(mutex);
    for (auto it = present.begin(); it != present.end(); ++it) {
        if (it->id == id) {
            present.erase(it);
            return;
        }
    }
}

std::vector<std::string> takeViolations()
{
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<std::string> taken;
    taken.swap(violations);
    return taken;
}

void addViolation(const std::string &what)
{
    std::lock_guard<std::mutex> guard(mutex);
    violations.push_back(what);
}

} // namespace winboundary

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID *classGuid, PCWSTR enumerator, HWND, DWORD flags)
{
    if (!classGuid || enumerator || !(flags & DIGCF_DEVICEINTERFACE)) {
        winboundary::addViolation("SetupDiGetClassDevsW without an interface class");
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_unique<DeviceSet>();
    std::lock_guard<std::mutex> guard(mutex);
    for (const Entry &entry : present)
        if (IsEqualGUID(entry.guid, *classGuid))
            set->entries.push_back(entry);
    openSets.insert(set.get());
    return set.release();
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA, const GUID *classGuid,
                                        DWORD index, PSP_DEVICE_INTERFACE_DATA data)
{
    DeviceSet *set = setOf(handle);
    if (!set)
        return fail(ERROR_INVALID_HANDLE);
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return fail(ERROR_INVALID_USER_BUFFER);
    if (!classGuid)
        return fail(ERROR_INVALID_PARAMETER);
    DWORD seen = 0;
    for (size_t i = 0; i < set->entries.size(); ++i) {
        if (!IsEqualGUID(set->entries[i].guid, *classGuid))
            continue;
        if (seen++ == index) {
            data->InterfaceClassGuid = set->entries[i].guid;
            data->Flags = SPINT_ACTIVE;
            data->Reserved = i + 1;
            return TRUE;
        }
    }
    return fail(ERROR_NO_MORE_ITEMS);
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                             DWORD detailSize, PDWORD requiredSize,
                                             PSP_DEVINFO_DATA)
{
    DeviceSet *set = setOf(handle);
    if (!set)
        return fail(ERROR_INVALID_HANDLE);
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0
        || data->Reserved > set->entries.size())
        return fail(ERROR_INVALID_PARAMETER);
    const std::wstring &path = set->entries[data->Reserved - 1].path;
    const DWORD required
            = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)
                                 + (path.size() + 1) * sizeof(WCHAR));
    if (requiredSize)
        *requiredSize = required;
    if (!detail) {
        if (detailSize != 0)
            return fail(ERROR_INVALID_USER_BUFFER);
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        return fail(ERROR_INVALID_USER_BUFFER);
    if (detailSize < required)
        return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle)
{
    auto *set = static_cast<DeviceSet *>(handle);
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (!openSets.erase(set))
            return fail(ERROR_INVALID_HANDLE);
    }
    delete set;
    return TRUE;
}

// The program's calls go through these pointers (the header declares the
// functions as imported); defined here, the import library is never used.
decltype(&SetupDiGetClassDevsW) __imp_SetupDiGetClassDevsW = &SetupDiGetClassDevsW;
decltype(&SetupDiEnumDeviceInterfaces) __imp_SetupDiEnumDeviceInterfaces
        = &SetupDiEnumDeviceInterfaces;
decltype(&SetupDiGetDeviceInterfaceDetailW) __imp_SetupDiGetDeviceInterfaceDetailW
        = &SetupDiGetDeviceInterfaceDetailW;
decltype(&SetupDiDestroyDeviceInfoList) __imp_SetupDiDestroyDeviceInfoList
        = &SetupDiDestroyDeviceInfoList;

} // extern "C"
