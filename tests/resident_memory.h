#pragma once

// Resident memory of the test process, read from /proc (on Windows, its working set).

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QRegularExpression>

#ifdef _WIN32
// Without the old socket header, which would clash with a later winsock2.h.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// after windows.h
#include <psapi.h>
#else
#include <unistd.h>
#endif

// Under Wine the working set also follows Wine's own heap and mappings, and its
// peak cannot be reset; the bounds were measured on Linux. Under AddressSanitizer
// freed memory waits in its quarantine, so resident memory grows without a leak;
// LeakSanitizer checks for leaks there instead.
#if defined(_WIN32)
constexpr bool residentMemoryMeaningful = false;
#elif defined(__SANITIZE_ADDRESS__)
constexpr bool residentMemoryMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool residentMemoryMeaningful = false;
#else
constexpr bool residentMemoryMeaningful = true;
#endif
#else
constexpr bool residentMemoryMeaningful = true;
#endif

#ifdef _WIN32
inline long workingSetKb(bool peak)
{
    PROCESS_MEMORY_COUNTERS counters {};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return static_cast<long>((peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize) / 1024);
}

inline long residentKb()
{
    return workingSetKb(false);
}

inline long peakResidentKb()
{
    return workingSetKb(true);
}

inline void resetPeakResident() { }
#else
inline QByteArray procSelf(const char *name)
{
    QFile file(QStringLiteral("/proc/self/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Resident memory now, in kB; -1 when unknown.
inline long residentKb()
{
    const QList<QByteArray> fields = procSelf("statm").split(' ');
    return fields.size() > 1 ? fields.at(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

// Peak resident memory since the last resetPeakResident(), in kB; -1 when unknown.
inline long peakResidentKb()
{
    static const QRegularExpression peak(QStringLiteral("VmHWM:\\s*(\\d+) kB"));
    const QRegularExpressionMatch match = peak.match(QString::fromLatin1(procSelf("status")));
    return match.hasMatch() ? match.captured(1).toLong() : -1;
}

inline void resetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}
#endif
