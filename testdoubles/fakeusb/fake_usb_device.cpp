#include "fake_usb_device.h"

#include <chrono>
#include <cstring>
#include <thread>

FakeUsbDevice::FakeUsbDevice()
    : FakeUsbDevice(std::make_shared<Script>())
{
}

FakeUsbDevice::FakeUsbDevice(std::shared_ptr<Script> script)
    : script_(std::move(script))
{
}

FakeUsbDevice::~FakeUsbDevice() = default;

bool FakeUsbDevice::reconnect()
{
    int delayMs = 0;
    {
        std::unique_lock<std::mutex> guard(script_->mutex);
        ++script_->reconnects;
        delayMs = script_->reconnectDelayMs;
        script_->toHost.notify_all();
        script_->reconnectReleased.wait(guard, [this] { return !script_->reconnectHeld; });
    }
    if (delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    std::lock_guard<std::mutex> guard(script_->mutex);
    record_ = UsbDeviceRecord();
    script_->opened = false;
    if (!script_->present || script_->reconnectFails || !script_->permissionNode.isEmpty())
        return false;
    record_.opened = true;
    record_.devicePath = QStringLiteral("/dev/bus/usb/001/002");
    record_.dataInterface = 0;
    record_.auxInterface = 1;
    record_.bulkIn = 0x81;
    record_.bulkOut = 0x01;
    record_.interruptPipe = 0x82;
    script_->opened = true;
    return true;
}

int FakeUsbDevice::readPipe(uint8_t *buf, int capacity)
{
    std::unique_lock<std::mutex> guard(script_->mutex);
    const int generation = script_->generation;
    ++script_->readersWaiting;
    script_->toHost.notify_all();
    script_->toReader.wait(guard, [&] {
        return script_->cancelled || generation != script_->generation || !script_->present
                || !script_->reads.empty();
    });
    --script_->readersWaiting;
    if (script_->cancelled || generation != script_->generation || !script_->present
        || !script_->opened)
        return -1;
    Script::ReadItem &item = script_->reads.front();
    if (item.fail) {
        script_->reads.pop_front();
        return -1;
    }
    const int n = std::min(capacity, static_cast<int>(item.bytes.size()));
    if (n > 0)
        std::memcpy(buf, item.bytes.constData(), static_cast<size_t>(n));
    if (n < item.bytes.size())
        item.bytes.remove(0, n);
    else
        script_->reads.pop_front();
    return n;
}

int FakeUsbDevice::writePipe(const uint8_t *bytes, int n)
{
    {
        std::unique_lock<std::mutex> guard(script_->mutex);
        if (!acceptWrite(guard, bytes, n))
            return -1;
    }
    script_->wrote.notify_all();
    return n;
}

bool FakeUsbDevice::acceptWrite(std::unique_lock<std::mutex> &guard, const uint8_t *bytes, int n)
{
    if (script_->writeStall
        && !script_->stallEnded.wait_for(guard, std::chrono::milliseconds(script_->stallTimeoutMs),
                                         [&] { return !script_->writeStall || !script_->present; }))
        return false;
    if (!script_->present || !script_->opened || script_->writesFail)
        return false;
    if (script_->writesToFail > 0) {
        --script_->writesToFail;
        return false;
    }
    script_->written.append(QByteArray(reinterpret_cast<const char *>(bytes), n));
    return true;
}

const UsbDeviceRecord &FakeUsbDevice::current() const
{
    return record_;
}

void FakeUsbDevice::cancelRead()
{
    std::lock_guard<std::mutex> guard(script_->mutex);
    script_->cancelled = true;
    script_->toReader.notify_all();
}

QString FakeUsbDevice::permissionProblem() const
{
    std::lock_guard<std::mutex> guard(script_->mutex);
    return script_->permissionNode;
}

void FakeUsbDevice::Script::feed(const QByteArray &bytes)
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        reads.push_back({bytes, false});
    }
    toReader.notify_all();
}

void FakeUsbDevice::Script::failRead()
{
    std::lock_guard<std::mutex> guard(mutex);
    reads.push_back({{}, true});
    toReader.notify_all();
}

void FakeUsbDevice::Script::unplug()
{
    std::lock_guard<std::mutex> guard(mutex);
    present = false;
    opened = false;
    ++generation;
    reads.clear();
    toReader.notify_all();
    stallEnded.notify_all();
}

void FakeUsbDevice::Script::replug()
{
    std::lock_guard<std::mutex> guard(mutex);
    present = true;
}

void FakeUsbDevice::Script::setReconnectFails(bool fails)
{
    std::lock_guard<std::mutex> guard(mutex);
    reconnectFails = fails;
}

void FakeUsbDevice::Script::setPermissionDenied(const QString &node)
{
    std::lock_guard<std::mutex> guard(mutex);
    permissionNode = node;
}

void FakeUsbDevice::Script::setReconnectDelay(int ms)
{
    std::lock_guard<std::mutex> guard(mutex);
    reconnectDelayMs = ms;
}

void FakeUsbDevice::Script::holdReconnects(bool hold)
{
    std::lock_guard<std::mutex> guard(mutex);
    reconnectHeld = hold;
    reconnectReleased.notify_all();
}

void FakeUsbDevice::Script::setWritesFail(bool fail)
{
    std::lock_guard<std::mutex> guard(mutex);
    writesFail = fail;
}

void FakeUsbDevice::Script::failNextWrites(int count)
{
    std::lock_guard<std::mutex> guard(mutex);
    writesToFail = count;
}

void FakeUsbDevice::Script::setWriteStall(bool stall, int timeoutMs)
{
    std::lock_guard<std::mutex> guard(mutex);
    writeStall = stall;
    stallTimeoutMs = timeoutMs;
    stallEnded.notify_all();
}

QList<QByteArray> FakeUsbDevice::Script::writes() const
{
    std::lock_guard<std::mutex> guard(mutex);
    return written;
}

QList<QByteArray> FakeUsbDevice::Script::writesFrom(int index) const
{
    std::lock_guard<std::mutex> guard(mutex);
    return written.mid(index);
}

int FakeUsbDevice::Script::writeCount() const
{
    std::lock_guard<std::mutex> guard(mutex);
    return written.size();
}

bool FakeUsbDevice::Script::waitForWrites(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> guard(mutex);
    return wrote.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                          [&] { return written.size() >= count; });
}

int FakeUsbDevice::Script::reconnectCount() const
{
    std::lock_guard<std::mutex> guard(mutex);
    return reconnects;
}

bool FakeUsbDevice::Script::waitForPendingRead(int timeoutMs) const
{
    std::unique_lock<std::mutex> guard(mutex);
    return toHost.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [&] { return readersWaiting > 0 && reads.empty(); });
}
