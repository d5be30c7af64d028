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

QByteArray printable(const QByteArray &bytes, int maxBytes)
{
    const QString text = QString::fromUtf8(bytes.left(maxBytes));
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u == '\n')
            out += QLatin1String("\\n");
        else if (u == '\r')
            out += QLatin1String("\\r");
        else if (u == '\t')
            out += QLatin1String("\\t");
        else if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == QChar::ReplacementCharacter)
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    QByteArray result = out.toUtf8();
    if (bytes.size() > maxBytes)
        result += "... [" + QByteArray::number(bytes.size()) + " bytes]";
    return result;
}

QByteArray printable(const QString &text, int maxBytes)
{
    return printable(text.toUtf8(), maxBytes);
}
