#include "single_instance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>

namespace {
Q_LOGGING_CATEGORY(lcInstance, "single_instance")

const QByteArray kRaise = "raise\n";
const QByteArray kDone = "ok\n";
// A client that says nothing useful within this time is dropped.
constexpr int kClientTimeoutMs = 2000;
constexpr int kMaxRequest = 64;

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

// A real folder (not a link) that this user owns and others cannot enter. Where the
// file system tells no owners (Windows), being able to write there is enough.
bool isPrivateFolder(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isDir())
        return false;
    // The owner of a file made here is this user, whatever the platform calls it.
    QTemporaryFile probe(path + QStringLiteral("/.owner-probe"));
    if (!probe.open())
        return false;
    const uint self = QFileInfo(probe.fileName()).ownerId();
    if (self == uint(-2))
        return true;
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
        qCWarning(lcInstance) << dir << "is not a folder of this user alone; not used";
    }
    return {};
}
} // namespace

SingleInstance::SingleInstance(const QString &name, const QString &dir, QObject *parent)
    : QObject(parent)
    , name_(name)
    , dir_(dir.isEmpty() ? privateFolder(name) : dir)
{
}

SingleInstance::~SingleInstance()
{
    if (server_) {
        server_->close(); // removes the socket file
        delete server_;
    }
}

QString SingleInstance::socketPath() const
{
    return QDir(dir_).filePath(name_ + QStringLiteral(".sock"));
}

QString SingleInstance::lockPath() const
{
    return QDir(dir_).filePath(name_ + QStringLiteral(".lock"));
}

qint64 SingleInstance::holderPid() const
{
    return holderPid_;
}

SingleInstance::Role SingleInstance::claim(int waitMs)
{
    if (dir_.isEmpty()) {
        qCWarning(lcInstance) << "no folder private to this user - running unguarded";
        return Role::Primary;
    }
    QDir().mkpath(dir_);
    lock_ = std::make_unique<QLockFile>(lockPath());
    // Only a dead holder makes a lock stale, never its age: the program runs for hours.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        holderPid_ = QCoreApplication::applicationPid();
        if (!listen())
            qCWarning(lcInstance) << "cannot listen on" << socketPath()
                                  << "- a second start will not find this window";
        return Role::Primary;
    }
    if (lock_->error() != QLockFile::LockFailedError) {
        // The folder is not writable: better one unguarded program than none.
        qCWarning(lcInstance) << "cannot create" << lockPath() << "- running unguarded";
        lock_.reset();
        return Role::Primary;
    }
    QString host, app;
    lock_->getLockInfo(&holderPid_, &host, &app);
    lock_.reset();
    return forward(waitMs);
}

bool SingleInstance::listen()
{
    // The lock is ours, so a socket file left here belongs to a dead instance.
    QLocalServer::removeServer(socketPath());
    server_ = new QLocalServer;
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server_->nextPendingConnection())
            serve(socket);
    });
    return server_->listen(socketPath());
}

void SingleInstance::serve(QLocalSocket *socket)
{
    socket->setParent(this);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // Owned by the connection, so it goes with it instead of outliving it.
    auto *timeout = new QTimer(socket);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, socket, &QLocalSocket::abort);
    timeout->start(kClientTimeoutMs);
    connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > kMaxRequest)
                socket->abort();
            return;
        }
        const QByteArray line = socket->readLine(kMaxRequest + 1);
        if (line == kRaise) {
            socket->write(kDone);
            socket->flush();
            emit activationRequested();
        }
        socket->disconnectFromServer();
    });
}

SingleInstance::Role SingleInstance::forward(int waitMs)
{
    // The first instance may hold the lock but not listen yet: retry until the deadline.
    QDeadlineTimer deadline(waitMs);
    do {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(qMax<qint64>(1, deadline.remainingTime()))) {
            socket.write(kRaise);
            socket.waitForBytesWritten(qMax<qint64>(1, deadline.remainingTime()));
            while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState
                   && !deadline.hasExpired())
                socket.waitForReadyRead(qMax<qint64>(1, deadline.remainingTime()));
            if (socket.canReadLine() && socket.readLine(kMaxRequest) == kDone)
                return Role::Forwarded;
            qCWarning(lcInstance) << "running instance did not confirm";
            return Role::NoAnswer;
        }
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    qCWarning(lcInstance) << "instance" << holderPid_ << "holds" << lockPath()
                          << "but does not answer on" << socketPath();
    return Role::NoAnswer;
}
