#include "console.h"

#include <QString>

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
std::atomic<ConsoleTap> g_tap {nullptr};
}

void setConsoleTap(ConsoleTap tap)
{
    g_tap.store(tap);
}

void console(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    if (const ConsoleTap tap = g_tap.load()) {
        va_list copy;
        va_copy(copy, args);
        tap(QString::vasprintf(format, copy));
        va_end(copy);
    }
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}
