#include "single_instance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace {
Q_LOGGING_CATEGORY(lcInstance, "single_instance")

const QByteArray kRaise = "raise\n";
const QByteArray kDone = "ok\n";
// A client that says nothing useful within this time is dropped.
constexpr int kClientTimeoutMs = 2000;
constexpr int kMaxRequest = 64;
} // namespace

SingleInstance::SingleInstance(const QString &name, const QString &dir, QObject *parent)
    : QObject(parent)
    , name_(name)
    , dir_(dir)
{
    if (dir_.isEmpty()) {
        dir_ = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (dir_.isEmpty())
            dir_ = QDir::tempPath();
    }
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
    QTimer::singleShot(kClientTimeoutMs, socket, [socket] { socket->abort(); });
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
