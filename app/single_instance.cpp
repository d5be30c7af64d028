#include "single_instance.h"

#include "instance_lock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
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
{
    const InstanceNames names = instanceNames(name, dir);
    lockName_ = names.lock;
    socketName_ = names.socket;
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
    return socketName_;
}

QString SingleInstance::lockPath() const
{
    return lockName_;
}

qint64 SingleInstance::holderPid() const
{
    return holderPid_;
}

SingleInstance::Role SingleInstance::claim(int waitMs)
{
    if (lockName_.isEmpty()) {
        qCWarning(lcInstance) << "no place for the instance lock - running unguarded";
        return Role::Primary;
    }
    lock_ = std::make_unique<InstanceLock>(lockName_);
    switch (lock_->tryLock()) {
    case InstanceLock::Result::Acquired:
        holderPid_ = QCoreApplication::applicationPid();
        if (!listen())
            qCWarning(lcInstance) << "cannot listen on" << socketPath()
                                  << "- a second start will not find this window";
        return Role::Primary;
    case InstanceLock::Result::Failed:
        // Better one unguarded program than none.
        qCWarning(lcInstance) << "cannot create" << lockPath() << "-" << lock_->errorString()
                              << "- running unguarded";
        lock_.reset();
        return Role::Primary;
    case InstanceLock::Result::Held:
        break;
    }
    holderPid_ = lock_->holderPid();
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
            if (const qint64 pid = serverProcessId(socket))
                holderPid_ = pid;
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
