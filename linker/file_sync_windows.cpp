#include "file_sync.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <io.h>

// Qt keeps its own native handle for a file opened by name, so the flush goes
// through a second descriptor: committing any handle of a file writes the
// file's cached data to the disk.
bool syncToDisk(QFile &file, QString *error)
{
    const QString path = QDir::toNativeSeparators(file.fileName());
    const int fd = ::_wopen(reinterpret_cast<const wchar_t *>(path.utf16()), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        if (error)
            *error = qt_error_string(errno);
        return false;
    }
    const bool ok = ::_commit(fd) == 0;
    if (!ok && error)
        *error = qt_error_string(errno);
    ::_close(fd);
    return ok;
}
