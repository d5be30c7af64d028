#pragma once

#include "winusb_calls.h"

#include <QByteArray>
#include <QList>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// Plays SetupAPI and WinUSB with keys plugged in, holding Windows' own rules
// (record sizes, one read per pipe, transfer time-outs). Thread-safe: the
// device reads on one thread while the test plays the key on another.
class FakeWinUsbCalls : public winusb::Calls
{
public:
    struct Interface
    {
        uint8_t number = 0;
        std::vector<winusb::PipeInformation> pipes;
        bool settingsFail = false;
    };
    struct Key
    {
        std::u16string path;
        // The first interface, then the associated ones.
        std::vector<Interface> interfaces;
        winusb::WinError openError = winusb::kSuccess;
    };
    // Interface 0 without pipes, 1 with bulk IN 0x81 and OUT 0x01, 2 with interrupt 0x82.
    static Key standardKey(const std::u16string &path);

    // Key play, from the test.
    void plug(const Key &key); // appended after the keys present
    void unplug(); // the first key: its pending read fails, later calls fail
    void setOpenError(winusb::WinError error); // of the first key
    void feed(const QByteArray &bytes); // one transfer on bulk IN
    void stallIn(); // halts bulk IN: reads fail until the pipe is reset
    void setTakesData(bool takes); // false: bulk OUT accepts nothing
    void arrive(); // a device interface of the watched class arrives

    QList<QByteArray> writes() const;
    bool waitForPendingRead() const; // up to 5 s
    int resets() const;
    int searchesDone() const; // enumerations ended (device info sets destroyed)
    // Sets, buffers, files and interface handles not released.
    int held() const;

    // winusb::Calls
    winusb::Handle getPresentInterfaces(const winusb::Guid &guid) override;
    winusb::WinError enumDeviceInterface(winusb::Handle set, const winusb::Guid &guid,
                                         uint32_t index, winusb::InterfaceData &data) override;
    winusb::WinError getInterfaceDetail(winusb::Handle set, const winusb::InterfaceData &data,
                                        void *detail, uint32_t detailSize,
                                        uint32_t *requiredSize) override;
    void destroyDeviceInfoList(winusb::Handle set) override;
    void *localAlloc(size_t size) override;
    void localFree(void *memory) override;
    winusb::WinError createFile(const char16_t *path, winusb::Handle &file) override;
    void closeHandle(winusb::Handle file) override;
    winusb::WinError initialize(winusb::Handle file, winusb::Handle &iface) override;
    void freeInterface(winusb::Handle iface) override;
    winusb::WinError queryDeviceSpeed(winusb::Handle iface, uint8_t &speed) override;
    winusb::WinError getAssociatedInterface(winusb::Handle iface, uint8_t index,
                                            winusb::Handle &associated) override;
    winusb::WinError queryInterfaceSettings(winusb::Handle iface, uint8_t alternateSetting,
                                            winusb::InterfaceDescriptor &descriptor) override;
    winusb::WinError queryPipe(winusb::Handle iface, uint8_t alternateSetting, uint8_t pipeIndex,
                               winusb::PipeInformation &pipe) override;
    winusb::WinError setPipeTimeout(winusb::Handle iface, uint8_t pipeId,
                                    uint32_t timeoutMs) override;
    winusb::WinError startRead(winusb::Handle iface, uint8_t pipeId, uint8_t *buffer,
                               uint32_t size) override;
    winusb::WinError finishRead(winusb::Handle iface, uint32_t &transferred) override;
    winusb::WinError writePipe(winusb::Handle iface, uint8_t pipeId, const uint8_t *buffer,
                               uint32_t size, uint32_t &transferred) override;
    winusb::WinError abortPipe(winusb::Handle iface, uint8_t pipeId) override;
    winusb::WinError resetPipe(winusb::Handle iface, uint8_t pipeId) override;
    void watchArrivals(const winusb::Guid &guid, std::function<void()> onArrival) override;

private:
    enum class Kind { Set, File, Interface };
    struct Held
    {
        Kind kind;
        int interfaceIndex = 0; // for an interface handle
    };
    winusb::Handle hold(Kind kind, int interfaceIndex = 0);
    bool release(winusb::Handle handle, Kind kind); // false: not held as that kind
    const Held *find(winusb::Handle handle, Kind kind) const;
    // The interface behind a handle of the first key, or null once it is gone.
    const Interface *interfaceOf(winusb::Handle iface) const;
    bool hasPipe(winusb::Handle iface, uint8_t pipeId) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Key> keys_;
    int generation_ = 0; // bumped by unplug, so handles of a gone key fail
    std::map<uintptr_t, Held> held_;
    std::map<uintptr_t, int> handleGeneration_;
    uintptr_t nextHandle_ = 0x100;
    int buffers_ = 0;
    std::deque<QByteArray> reads_;
    QList<QByteArray> writes_;
    std::map<uint8_t, uint32_t> timeouts_; // by pipe
    bool halted_ = false;
    bool takesData_ = true;
    int resets_ = 0;
    int searchesDone_ = 0;
    // The read in flight.
    bool reading_ = false;
    bool aborted_ = false;
    uint8_t *readBuffer_ = nullptr;
    uint32_t readSize_ = 0;
    std::function<void()> onArrival_;
};
