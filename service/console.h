#pragma once

#include <QByteArray>
#include <QString>

// Trace lines of the service client on standard output.
void console(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Also hands every console text to tap (the program's log capture); null: none.
using ConsoleTap = void (*)(const QString &text);
void setConsoleTap(ConsoleTap tap);

// Text from outside (reply bodies, record fields) made safe for a trace line: cut
// to maxBytes of UTF-8 (longer input ends in "... [N bytes]"), with line breaks,
// control characters and malformed UTF-8 written as escapes.
QByteArray printable(const QByteArray &bytes, int maxBytes);
QByteArray printable(const QString &text, int maxBytes = 256);
