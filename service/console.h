#pragma once

class QString;

// Trace lines of the service client on standard output.
void console(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Also hands every console text to tap (the program's log capture); null: none.
using ConsoleTap = void (*)(const QString &text);
void setConsoleTap(ConsoleTap tap);
