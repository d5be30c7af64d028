#pragma once

#include <QObject>
#include <QString>

#include <memory>

class InstanceLock;
class QLocalServer;
class QLocalSocket;

// Keeps one running program per user and session, so that two processes never fight
// over the key. The first start holds a lock that the system releases when it dies
// (instance_lock.h) and listens on a local socket; a later start asks it to bring its
// window forward and then exits.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Role {
        Primary, // this process runs the program
        Forwarded, // another instance runs and was asked to show itself
        NoAnswer, // another instance holds the lock but did not answer
    };

    // dir: on Unix the folder of the lock file and the socket; empty: a folder that
    // this user alone owns and can enter (mode 0700): the runtime folder, else one named
    // for the user in the temporary folder, else one in the user's cache folder. On
    // Windows a given dir only makes the names differ; the default names are per user
    // and session.
    explicit SingleInstance(const QString &name = QStringLiteral("boxwright"),
                            const QString &dir = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // Decides the role. A later start waits at most waitMs for the first to answer.
    Role claim(int waitMs = 3000);

    // The socket's path (Unix) or pipe name (Windows).
    QString socketPath() const;
    // The lock file (Unix) or mutex name (Windows).
    QString lockPath() const;
    // Process id of the instance that holds the lock, or 0 when not known.
    qint64 holderPid() const;

signals:
    // A later start asked this (primary) instance to show its window.
    void activationRequested();

private:
    bool listen();
    Role forward(int waitMs);
    void serve(QLocalSocket *socket);

    QString lockName_;
    QString socketName_;
    std::unique_ptr<InstanceLock> lock_;
    QLocalServer *server_ = nullptr;
    qint64 holderPid_ = 0;
};
