#pragma once

#include <QString>

// A JSON string literal (with its quotes) for hand-written one-line bodies, whose
// member order must stay as written. Escapes quotes, backslashes and control characters.
QString jsonQuote(const QString &text);

// Appends one line to a trace file in the working directory; `truncate` starts it afresh.
// A file that cannot be opened is skipped.
void traceLine(const QString &fileName, const char *line, bool truncate = false);
// Creates or empties a file in the working directory.
void truncateFile(const QString &fileName);
