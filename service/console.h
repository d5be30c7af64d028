#pragma once

// Trace lines of the service client on standard output.
void console(const char *format, ...) __attribute__((format(printf, 1, 2)));
