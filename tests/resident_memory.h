#pragma once

// Resident memory of the test process, read from /proc.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QRegularExpression>

#include <unistd.h>

// Under AddressSanitizer freed memory waits in its quarantine, so resident
// memory grows without a leak; LeakSanitizer checks for leaks there instead.
#if defined(__SANITIZE_ADDRESS__)
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
