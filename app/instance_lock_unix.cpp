#include "instance_lock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
Q_LOGGING_CATEGORY(lcLock, "single_instance")

const QFile::Permissions kOthersAccess = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
        | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;

// The login name, as a file name part; folders of different users never share it.
QString userTag()
{
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty())
        name = qEnvironmentVariable("USERNAME");
    if (name.isEmpty())
        name = QDir::home().dirName();
    for (QChar &c : name) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('.'))
            c = QLatin1Char('_');
    }
    return name;
}

// Creates the folder under a temporary name with mode 0700 and then gives it its
// name, so it is never open to others. Does nothing when the name is taken.
void createPrivately(const QString &path)
{
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    QTemporaryDir fresh(info.absolutePath() + QStringLiteral("/.") + info.fileName()
                        + QStringLiteral("-XXXXXX"));
    if (fresh.isValid() && QDir().rename(fresh.path(), path))
        fresh.setAutoRemove(false);
}

// A real folder (not a link) that this user owns and others cannot enter.
bool isPrivateFolder(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isDir())
        return false;
    QTemporaryFile probe(path + QStringLiteral("/.owner-probe"));
    if (!probe.open())
        return false;
    const uint self = QFileInfo(probe.fileName()).ownerId();
    return info.ownerId() == self && !(info.permissions() & kOthersAccess);
}

// The first folder that is private to this user: the runtime folder, else one named
// for the user in the temporary folder, else one in the user's cache folder.
QString privateFolder(const QString &name)
{
    const QString own = name + QLatin1Char('-') + userTag();
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QStringList candidates = {
            QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation),
            QDir(QDir::tempPath()).filePath(own),
            cache.isEmpty() ? QString() : QDir(cache).filePath(own),
    };
    for (const QString &dir : candidates) {
        if (dir.isEmpty())
            continue;
        if (!QFileInfo::exists(dir))
            createPrivately(dir);
        if (isPrivateFolder(dir))
            return dir;
        qCWarning(lcLock) << dir << "is not a folder of this user alone; not used";
    }
    return {};
}
} // namespace

InstanceNames instanceNames(const QString &name, const QString &dir)
{
    const QString folder = dir.isEmpty() ? privateFolder(name) : dir;
    if (folder.isEmpty())
        return {};
    QDir().mkpath(folder);
    return {QDir(folder).filePath(name + QStringLiteral(".lock")),
            QDir(folder).filePath(name + QStringLiteral(".sock"))};
}

struct InstanceLock::Platform
{
    QString path;
    int fd = -1;
    QString error;
};

InstanceLock::InstanceLock(const QString &name)
    : d(std::make_unique<Platform>())
{
    d->path = name;
}

InstanceLock::~InstanceLock()
{
    // The file stays: removing it while others may have it open would let two
    // processes each lock a file of that name.
    if (d->fd >= 0)
        ::close(d->fd);
}

InstanceLock::Result InstanceLock::tryLock()
{
    const QByteArray path = QFile::encodeName(d->path);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        d->error = QString::fromLocal8Bit(std::strerror(errno));
        return Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return Result::Held;
        d->error = QString::fromLocal8Bit(std::strerror(err));
        return Result::Failed;
    }
    // The holder's id, for the message a later start may have to show.
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), pid.size(), 0) != pid.size())
        qCWarning(lcLock) << "cannot write the process id into" << d->path;
    d->fd = fd;
    return Result::Acquired;
}

qint64 InstanceLock::holderPid() const
{
    QFile file(d->path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // The first line; earlier versions wrote the same there.
    return file.readLine(32).trimmed().toLongLong();
}

QString InstanceLock::errorString() const
{
    return d->error;
}

qint64 serverProcessId(const QLocalSocket &)
{
    return 0; // the lock file names the holder
}
