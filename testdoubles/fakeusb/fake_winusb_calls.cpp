#include "fake_winusb_calls.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

using namespace winusb;

namespace {

constexpr WinError kErrorFileNotFound = 2;
constexpr WinError kErrorInvalidParameter = 87;
constexpr WinError kErrorBusy = 170;
constexpr WinError kErrorDeviceNotConnected = 1167;

// What Windows demands in the records' size fields, by pointer size.
constexpr uint32_t kInterfaceDataSize = sizeof(void *) == 8 ? 32 : 28;
constexpr uint32_t kDetailFixedSize = sizeof(void *) == 8 ? 8 : 6;

uintptr_t idOf(Handle handle)
{
    return reinterpret_cast<uintptr_t>(handle);
}

} // namespace

FakeWinUsbCalls::Key FakeWinUsbCalls::standardKey(const std::u16string &path)
{
    Key key;
    key.path = path;
    key.interfaces = {{0, {}, false},
                      {1, {{PipeBulk, 0x81, 64, 0}, {PipeBulk, 0x01, 64, 0}}, false},
                      {2, {{PipeInterrupt, 0x82, 8, 10}}, false}};
    return key;
}

void FakeWinUsbCalls::plug(const Key &key)
{
    std::lock_guard<std::mutex> guard(mutex_);
    keys_.push_back(key);
    changed_.notify_all();
}

void FakeWinUsbCalls::unplug()
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!keys_.empty())
        keys_.erase(keys_.begin());
    ++generation_;
    reads_.clear();
    timeouts_.clear();
    halted_ = false;
    changed_.notify_all();
}

void FakeWinUsbCalls::setOpenError(WinError error)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!keys_.empty())
        keys_.front().openError = error;
}

void FakeWinUsbCalls::feed(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> guard(mutex_);
    reads_.push_back(bytes);
    changed_.notify_all();
}

void FakeWinUsbCalls::stallIn()
{
    std::lock_guard<std::mutex> guard(mutex_);
    halted_ = true;
    changed_.notify_all();
}

void FakeWinUsbCalls::setTakesData(bool takes)
{
    std::lock_guard<std::mutex> guard(mutex_);
    takesData_ = takes;
}

void FakeWinUsbCalls::arrive()
{
    std::function<void()> onArrival;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        onArrival = onArrival_;
    }
    if (onArrival)
        onArrival();
}

QList<QByteArray> FakeWinUsbCalls::writes() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return writes_;
}

bool FakeWinUsbCalls::waitForPendingRead() const
{
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, std::chrono::seconds(5),
                             [this] { return reading_ && reads_.empty(); });
}

int FakeWinUsbCalls::resets() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return resets_;
}

int FakeWinUsbCalls::searchesDone() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return searchesDone_;
}

int FakeWinUsbCalls::held() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(held_.size()) + buffers_;
}

Handle FakeWinUsbCalls::hold(Kind kind, int interfaceIndex)
{
    const uintptr_t id = nextHandle_++;
    held_[id] = {kind, interfaceIndex};
    handleGeneration_[id] = generation_;
    return reinterpret_cast<Handle>(id);
}

bool FakeWinUsbCalls::release(Handle handle, Kind kind)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!find(handle, kind))
        return false;
    held_.erase(idOf(handle));
    handleGeneration_.erase(idOf(handle));
    return true;
}

const FakeWinUsbCalls::Held *FakeWinUsbCalls::find(Handle handle, Kind kind) const
{
    const auto it = held_.find(idOf(handle));
    return it != held_.end() && it->second.kind == kind ? &it->second : nullptr;
}

const FakeWinUsbCalls::Interface *FakeWinUsbCalls::interfaceOf(Handle iface) const
{
    const Held *held = find(iface, Kind::Interface);
    if (!held || handleGeneration_.at(idOf(iface)) != generation_ || keys_.empty())
        return nullptr;
    return &keys_.front().interfaces.at(static_cast<size_t>(held->interfaceIndex));
}

bool FakeWinUsbCalls::hasPipe(Handle iface, uint8_t pipeId) const
{
    const Interface *found = interfaceOf(iface);
    if (!found)
        return false;
    for (const PipeInformation &pipe : found->pipes) {
        if (pipe.pipeId == pipeId)
            return true;
    }
    return false;
}

Handle FakeWinUsbCalls::getPresentInterfaces(const Guid &guid)
{
    std::lock_guard<std::mutex> guard(mutex_);
    return guid == kKeyInterfaceGuid ? hold(Kind::Set) : nullptr;
}

WinError FakeWinUsbCalls::enumDeviceInterface(Handle set, const Guid &guid, uint32_t index,
                                              InterfaceData &data)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!find(set, Kind::Set) || !(guid == kKeyInterfaceGuid))
        return kErrorInvalidParameter;
    if (data.cbSize != kInterfaceDataSize)
        return kErrorInvalidUserBuffer;
    if (index >= keys_.size())
        return kErrorNoMoreItems;
    data.interfaceClassGuid = guid;
    data.reserved = index + 1;
    return kSuccess;
}

WinError FakeWinUsbCalls::getInterfaceDetail(Handle set, const InterfaceData &data, void *detail,
                                             uint32_t detailSize, uint32_t *requiredSize)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!find(set, Kind::Set) || data.reserved == 0 || data.reserved > keys_.size())
        return kErrorInvalidParameter;
    const std::u16string &path = keys_[data.reserved - 1].path;
    const auto needed
            = static_cast<uint32_t>(kDevicePathOffset + (path.size() + 1) * sizeof(char16_t));
    if (requiredSize)
        *requiredSize = needed;
    if (!detail || detailSize < needed)
        return kErrorInsufficientBuffer;
    uint32_t cbSize = 0;
    std::memcpy(&cbSize, detail, sizeof cbSize);
    if (cbSize != kDetailFixedSize)
        return kErrorInvalidUserBuffer;
    std::memcpy(static_cast<char *>(detail) + kDevicePathOffset, path.c_str(),
                (path.size() + 1) * sizeof(char16_t));
    return kSuccess;
}

void FakeWinUsbCalls::destroyDeviceInfoList(Handle set)
{
    if (release(set, Kind::Set)) {
        std::lock_guard<std::mutex> guard(mutex_);
        ++searchesDone_;
    }
}

void *FakeWinUsbCalls::localAlloc(size_t size)
{
    std::lock_guard<std::mutex> guard(mutex_);
    ++buffers_;
    return std::malloc(size);
}

void FakeWinUsbCalls::localFree(void *memory)
{
    std::lock_guard<std::mutex> guard(mutex_);
    --buffers_;
    std::free(memory);
}

WinError FakeWinUsbCalls::createFile(const char16_t *path, Handle &file)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (keys_.empty() || keys_.front().path != path)
        return kErrorFileNotFound;
    if (keys_.front().openError != kSuccess)
        return keys_.front().openError;
    file = hold(Kind::File);
    return kSuccess;
}

void FakeWinUsbCalls::closeHandle(Handle file)
{
    release(file, Kind::File);
}

WinError FakeWinUsbCalls::initialize(Handle file, Handle &iface)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!find(file, Kind::File))
        return kErrorInvalidParameter;
    iface = hold(Kind::Interface, 0);
    return kSuccess;
}

void FakeWinUsbCalls::freeInterface(Handle iface)
{
    release(iface, Kind::Interface);
}

WinError FakeWinUsbCalls::queryDeviceSpeed(Handle iface, uint8_t &speed)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!interfaceOf(iface))
        return kErrorDeviceNotConnected;
    speed = 3; // high speed
    return kSuccess;
}

WinError FakeWinUsbCalls::getAssociatedInterface(Handle iface, uint8_t index, Handle &associated)
{
    std::lock_guard<std::mutex> guard(mutex_);
    const Held *first = find(iface, Kind::Interface);
    if (!interfaceOf(iface) || first->interfaceIndex != 0)
        return kErrorInvalidParameter;
    if (index + 1u >= keys_.front().interfaces.size())
        return kErrorNoMoreItems;
    associated = hold(Kind::Interface, index + 1);
    return kSuccess;
}

WinError FakeWinUsbCalls::queryInterfaceSettings(Handle iface, uint8_t alternateSetting,
                                                 InterfaceDescriptor &descriptor)
{
    std::lock_guard<std::mutex> guard(mutex_);
    const Interface *found = interfaceOf(iface);
    if (!found || alternateSetting != 0)
        return kErrorNoMoreItems;
    if (found->settingsFail)
        return kErrorGenFailure;
    descriptor = {9, 4, found->number, 0, static_cast<uint8_t>(found->pipes.size()), 0xFF, 0, 0, 0};
    return kSuccess;
}

WinError FakeWinUsbCalls::queryPipe(Handle iface, uint8_t alternateSetting, uint8_t pipeIndex,
                                    PipeInformation &pipe)
{
    std::lock_guard<std::mutex> guard(mutex_);
    const Interface *found = interfaceOf(iface);
    if (!found || alternateSetting != 0 || pipeIndex >= found->pipes.size())
        return kErrorNoMoreItems;
    pipe = found->pipes[pipeIndex];
    return kSuccess;
}

WinError FakeWinUsbCalls::setPipeTimeout(Handle iface, uint8_t pipeId, uint32_t timeoutMs)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!hasPipe(iface, pipeId))
        return kErrorInvalidParameter;
    timeouts_[pipeId] = timeoutMs;
    return kSuccess;
}

WinError FakeWinUsbCalls::startRead(Handle iface, uint8_t pipeId, uint8_t *buffer, uint32_t size)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!interfaceOf(iface))
        return kErrorDeviceNotConnected;
    if (!hasPipe(iface, pipeId) || !(pipeId & 0x80))
        return kErrorInvalidParameter;
    if (reading_)
        return kErrorBusy;
    if (halted_)
        return kErrorGenFailure;
    reading_ = true;
    aborted_ = false;
    readBuffer_ = buffer;
    readSize_ = size;
    changed_.notify_all();
    return kSuccess;
}

WinError FakeWinUsbCalls::finishRead(Handle iface, uint32_t &transferred)
{
    std::unique_lock<std::mutex> guard(mutex_);
    transferred = 0;
    if (!reading_)
        return kErrorInvalidParameter;
    changed_.wait(guard,
                  [&] { return aborted_ || halted_ || !interfaceOf(iface) || !reads_.empty(); });
    reading_ = false;
    changed_.notify_all();
    if (aborted_)
        return kErrorOperationAborted;
    // A key pulled out mid-read reports the same failure as a halted pipe.
    if (halted_ || !interfaceOf(iface))
        return kErrorGenFailure;
    const QByteArray bytes = reads_.front();
    reads_.pop_front();
    transferred = std::min(readSize_, static_cast<uint32_t>(bytes.size()));
    std::memcpy(readBuffer_, bytes.constData(), transferred);
    return kSuccess;
}

WinError FakeWinUsbCalls::writePipe(Handle iface, uint8_t pipeId, const uint8_t *buffer,
                                    uint32_t size, uint32_t &transferred)
{
    std::unique_lock<std::mutex> guard(mutex_);
    transferred = 0;
    if (!interfaceOf(iface))
        return kErrorDeviceNotConnected;
    if (!hasPipe(iface, pipeId) || (pipeId & 0x80))
        return kErrorInvalidParameter;
    if (!takesData_) {
        // Without a transfer time-out on the pipe Windows waits for as long as the key does.
        if (timeouts_.count(pipeId))
            return kErrorSemTimeout;
        const int generation = generation_;
        changed_.wait(guard, [&] { return generation != generation_; });
        return kErrorDeviceNotConnected;
    }
    writes_.append(QByteArray(reinterpret_cast<const char *>(buffer), static_cast<int>(size)));
    transferred = size;
    return kSuccess;
}

WinError FakeWinUsbCalls::abortPipe(Handle iface, uint8_t pipeId)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!find(iface, Kind::Interface))
        return kErrorInvalidParameter;
    if (reading_ && (pipeId & 0x80)) {
        aborted_ = true;
        changed_.notify_all();
    }
    return kSuccess;
}

WinError FakeWinUsbCalls::resetPipe(Handle iface, uint8_t pipeId)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (!hasPipe(iface, pipeId))
        return kErrorDeviceNotConnected;
    halted_ = false;
    ++resets_;
    return kSuccess;
}

void FakeWinUsbCalls::watchArrivals(const Guid &guid, std::function<void()> onArrival)
{
    std::lock_guard<std::mutex> guard(mutex_);
    onArrival_ = guid == kKeyInterfaceGuid ? std::move(onArrival) : nullptr;
}
