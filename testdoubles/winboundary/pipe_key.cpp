#include "pipe_key.h"

#include "key_descriptors.h"
#include "key_messages.h"
#include "win_boundary.h"
#include "winusb_calls.h"

#include <dbt.h>

#include <atomic>
#include <cstring>

using namespace winboundary;

namespace {

constexpr DWORD kPipeBufferSize = 64 * 1024;

GUID keyInterfaceClass()
{
    GUID guid {};
    static_assert(sizeof guid == sizeof winusb::kKeyInterfaceGuid, "GUID layout");
    std::memcpy(&guid, &winusb::kKeyInterfaceGuid, sizeof guid);
    return guid;
}

std::wstring uniquePipePath()
{
    static std::atomic<int> counter {0};
    return L"\\\\.\\pipe\\boxwright-test-key-" + std::to_wstring(GetCurrentProcessId()) + L"-"
            + std::to_wstring(++counter);
}

// Tells the program's arrival watch, as Windows does when a device interface arrives.
void announceArrival(const GUID &interfaceClass)
{
    HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"BoxwrightKeyArrivals", nullptr);
    if (!window)
        return;
    DEV_BROADCAST_DEVICEINTERFACE_W arrival {};
    arrival.dbcc_size = sizeof arrival;
    arrival.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    arrival.dbcc_classguid = interfaceClass;
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                        reinterpret_cast<LPARAM>(&arrival), SMTO_ABORTIFHUNG, 2000, &result);
}

// Waits for an overlapped transfer on the pipe, or for stop (then cancels it).
bool finish(HANDLE pipe, OVERLAPPED &overlapped, HANDLE stop, DWORD &transferred)
{
    const HANDLE waits[] = {overlapped.hEvent, stop};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
        CancelIoEx(pipe, &overlapped);
    return GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
}

} // namespace

PipeKey::PipeKey(const Options &options, QObject *parent)
    : QObject(parent)
    , options_(options)
    , path_(uniquePipePath())
{
    const GUID zero {};
    if (IsEqualGUID(options_.interfaceClass, zero))
        options_.interfaceClass = keyInterfaceClass();
    if (options_.configuration.isEmpty())
        options_.configuration = keydesc::configurationDescriptor();
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

PipeKey::~PipeKey()
{
    unplug();
    CloseHandle(stop_);
    CloseHandle(wake_);
}

void PipeKey::plug()
{
    if (plugged())
        return;
    HANDLE pipe = CreateNamedPipeW(path_.c_str(),
                                   PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED
                                           | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                   kPipeBufferSize, kPipeBufferSize, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        addViolation("test key: no pipe, error " + std::to_string(GetLastError()));
        return;
    }
    ResetEvent(stop_);
    server_ = std::thread([this, pipe] { serve(pipe); });
    interfaceId_ = addInterface(options_.interfaceClass, path_);
    announceArrival(options_.interfaceClass);
}

void PipeKey::unplug()
{
    if (!plugged())
        return;
    removeInterface(interfaceId_);
    SetEvent(stop_);
    server_.join();
}

void PipeKey::queueFromKey(const QByteArray &bytes)
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        for (int at = 0; at < bytes.size(); at += kMaxTransfer)
            outgoing_.push_back(char(Packet) + bytes.mid(at, kMaxTransfer));
    }
    SetEvent(wake_);
}

void PipeKey::sendMessage(const QByteArray &message)
{
    queueFromKey(keymsg::frame(message));
}

void PipeKey::stallIn()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        outgoing_.push_back(QByteArray(1, StallIn));
    }
    SetEvent(wake_);
}

void PipeKey::stallOut()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        outgoing_.push_back(QByteArray(1, StallOut));
    }
    SetEvent(wake_);
}

bool PipeKey::takeFrame(QByteArray &payload, int timeoutMs)
{
    std::unique_lock<std::mutex> guard(mutex_);
    if (!changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [this] { return !frames_.empty(); }))
        return false;
    payload = frames_.front();
    frames_.pop_front();
    return true;
}

int PipeKey::opens() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return opens_;
}

int PipeKey::framesFromHost() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return framesFromHost_;
}

bool PipeKey::connectHost(HANDLE pipe)
{
    OVERLAPPED connect {};
    connect.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool connected = ConnectNamedPipe(pipe, &connect) || GetLastError() == ERROR_PIPE_CONNECTED;
    if (!connected && GetLastError() == ERROR_IO_PENDING) {
        DWORD unused = 0;
        connected = finish(pipe, connect, stop_, unused);
    }
    CloseHandle(connect.hEvent);
    if (connected) {
        std::lock_guard<std::mutex> guard(mutex_);
        ++opens_;
    }
    return connected && writeMessage(pipe, char(Descriptor) + options_.configuration);
}

bool PipeKey::writeMessage(HANDLE pipe, const QByteArray &message)
{
    OVERLAPPED write {};
    write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    bool ok = WriteFile(pipe, message.constData(), DWORD(message.size()), nullptr, &write);
    if (ok || GetLastError() == ERROR_IO_PENDING)
        ok = finish(pipe, write, stop_, written);
    CloseHandle(write.hEvent);
    return ok && written == DWORD(message.size());
}

void PipeKey::flushOutgoing(HANDLE pipe)
{
    for (;;) {
        QByteArray message;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (outgoing_.empty())
                return;
            message = outgoing_.front();
            outgoing_.pop_front();
        }
        if (!writeMessage(pipe, message))
            return;
    }
}

void PipeKey::fromHost(const char *bytes, int n)
{
    const QVector<QByteArray> payloads
            = assembler_.feed(reinterpret_cast<const uint8_t *>(bytes), n);
    if (payloads.isEmpty())
        return;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        frames_.insert(frames_.end(), payloads.begin(), payloads.end());
        framesFromHost_ += payloads.size();
    }
    changed_.notify_all();
    for (const QByteArray &payload : payloads)
        emit hostMessage(payload);
}

void PipeKey::serve(HANDLE pipe)
{
    std::vector<char> buffer(kPipeBufferSize);
    OVERLAPPED read {};
    read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool connected = false;
    while (WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0) {
        if (!connected) {
            assembler_.reset();
            connected = connectHost(pipe);
            if (!connected) {
                DisconnectNamedPipe(pipe);
                continue;
            }
        }
        flushOutgoing(pipe);
        const bool started = ReadFile(pipe, buffer.data(), DWORD(buffer.size()), nullptr, &read)
                || GetLastError() == ERROR_IO_PENDING;
        bool ended = !started;
        if (!started)
            connected = false;
        // Queued messages go out while the read waits for the program.
        while (!ended) {
            const HANDLE waits[] = {read.hEvent, wake_, stop_};
            const DWORD which = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
            if (which == WAIT_OBJECT_0 + 1) {
                flushOutgoing(pipe);
                continue;
            }
            if (which != WAIT_OBJECT_0)
                CancelIoEx(pipe, &read);
            DWORD got = 0;
            if (GetOverlappedResult(pipe, &read, &got, TRUE))
                fromHost(buffer.data(), int(got));
            else if (GetLastError() != ERROR_OPERATION_ABORTED)
                connected = false; // the program closed its end: wait for the next open
            ended = true;
        }
        if (!connected)
            DisconnectNamedPipe(pipe);
    }
    CloseHandle(read.hEvent);
    // Unplugged: the program's transfers on the pipe fail from here on.
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
}
