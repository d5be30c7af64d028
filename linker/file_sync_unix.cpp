#include "file_sync.h"

#include <QFile>

#include <cerrno>
#include <unistd.h>

bool syncToDisk(QFile &file, QString *error)
{
    int rc = 0;
    do {
        rc = ::fsync(file.handle());
    } while (rc != 0 && errno == EINTR);
    if (rc != 0 && error)
        *error = qt_error_string(errno);
    return rc == 0;
}
