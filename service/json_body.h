#pragma once

#include <QByteArray>
#include <QString>

// A JSON string literal (with its quotes) for hand-written one-line bodies, whose
// member order must stay as written. Escapes quotes, backslashes and control characters.
QString jsonQuote(const QString &text);

// Replaces a file in the working directory with `content`. Whatever has that name is
// removed first (a link itself, not what it points at) and the file is created anew,
// so a planted link cannot redirect the write. False, with nothing written, when the
// file cannot be created.
bool replaceFile(const QString &fileName, const QByteArray &content);
