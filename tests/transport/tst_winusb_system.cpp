// The device layer on Windows' own calls, with no key plugged in.

#include "system_usb_device.h"
#include "winusb_calls.h"

#include <QtTest>

#include <windows.h>

#include <dbt.h>

#include <atomic>
#include <cstring>
#include <string>

namespace {

constexpr const wchar_t *kWatchWindowClass = L"BoxwrightKeyArrivals";

// Delivers an interface arrival to the watch window as Windows would.
void deliverArrival(HWND window, const GUID &classGuid)
{
    DEV_BROADCAST_DEVICEINTERFACE_W arrival {};
    arrival.dbcc_size = sizeof arrival;
    arrival.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    arrival.dbcc_classguid = classGuid;
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&arrival));
}

} // namespace

class TestWinUsbSystem : public QObject
{
    Q_OBJECT
private slots:
    void noKeyPresent();
    void arrivalOfKeyClassWakes();
    void removalQueryOfWatchedHandleIsPassedOn();
};

void TestWinUsbSystem::noKeyPresent()
{
    std::unique_ptr<UsbDevice> device = makeSystemUsbDevice();
    QVERIFY(!device->reconnect());
    QVERIFY(!device->current().opened);
    QVERIFY(device->accessProblem().isEmpty());
}

void TestWinUsbSystem::arrivalOfKeyClassWakes()
{
    std::unique_ptr<UsbDevice> device = makeSystemUsbDevice();
    std::atomic<int> arrivals {0};
    device->watchArrivals([&arrivals] { ++arrivals; });
    HWND window = FindWindowExW(HWND_MESSAGE, nullptr, kWatchWindowClass, nullptr);
    QVERIFY(window);

    GUID keyClass {};
    static_assert(sizeof keyClass == sizeof winusb::kKeyInterfaceGuid, "GUID layout");
    std::memcpy(&keyClass, &winusb::kKeyInterfaceGuid, sizeof keyClass);
    GUID otherClass = keyClass;
    otherClass.Data1 ^= 1;
    deliverArrival(window, otherClass);
    QCOMPARE(arrivals.load(), 0);
    deliverArrival(window, keyClass);
    QCOMPARE(arrivals.load(), 1);

    device->watchArrivals({});
    QVERIFY(!FindWindowExW(HWND_MESSAGE, nullptr, kWatchWindowClass, nullptr));
}

void TestWinUsbSystem::removalQueryOfWatchedHandleIsPassedOn()
{
    std::unique_ptr<winusb::Calls> calls = winusb::makeSystemCalls();
    calls->watchArrivals(winusb::kKeyInterfaceGuid, [] {});
    HWND window = FindWindowExW(HWND_MESSAGE, nullptr, kWatchWindowClass, nullptr);
    QVERIFY(window);
    // Any open handle stands for the key's here.
    const std::wstring path
            = (QDir::tempPath()
               + QStringLiteral("/bw-removal-%1").arg(QCoreApplication::applicationPid()))
                      .toStdWString();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    QVERIFY(file != INVALID_HANDLE_VALUE);
    HANDLE other = GetCurrentProcess();
    std::atomic<int> queries {0};
    calls->watchRemoval(file, [&queries] { ++queries; });

    auto deliver = [window](HANDLE handle) {
        DEV_BROADCAST_HANDLE query {};
        query.dbch_size = sizeof query;
        query.dbch_devicetype = DBT_DEVTYP_HANDLE;
        query.dbch_handle = handle;
        return SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE,
                            reinterpret_cast<LPARAM>(&query));
    };
    // Windows may go on with the removal in every case.
    QCOMPARE(deliver(other), LRESULT(TRUE));
    QCOMPARE(queries.load(), 0);
    QCOMPARE(deliver(file), LRESULT(TRUE));
    QCOMPARE(queries.load(), 1);
    calls->watchRemoval(nullptr, {});
    QCOMPARE(deliver(file), LRESULT(TRUE));
    QCOMPARE(queries.load(), 1);

    calls->watchArrivals(winusb::kKeyInterfaceGuid, {});
    CloseHandle(file);
}

QTEST_GUILESS_MAIN(TestWinUsbSystem)
#include "tst_winusb_system.moc"
