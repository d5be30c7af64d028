#pragma once

#include <QString>

class QFile;

// Returns once what was written to `file` (open for writing and flushed) is on
// the disk, not only in the system's cache. False, with the reason in `error`,
// when the system refused. One implementation per platform, chosen by the build.
bool syncToDisk(QFile &file, QString *error);
