#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

// Keeps one running program per user, so that two processes never fight over the
// key. The first start holds a lock file and listens on a local socket; a later
// start asks it to bring its window forward and then exits.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Role {
        Primary, // this process runs the program
        Forwarded, // another instance runs and was asked to show itself
        NoAnswer, // another instance holds the lock but did not answer
    };

    // dir holds the lock file and the socket. Empty: a folder that this user alone owns
    // and can enter (mode 0700): the runtime folder, else one named for the user in the
    // temporary folder, else one in the user's cache folder. The socket's name is its
    // path there, so it is per user on every platform.
    explicit SingleInstance(const QString &name = QStringLiteral("boxwright"),
                            const QString &dir = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // Decides the role. A later start waits at most waitMs for the first to answer.
    Role claim(int waitMs = 3000);

    QString socketPath() const;
    QString lockPath() const;
    // Process id in the lock file of the instance that holds it, or 0.
    qint64 holderPid() const;

signals:
    // A later start asked this (primary) instance to show its window.
    void activationRequested();

private:
    bool listen();
    Role forward(int waitMs);
    void serve(QLocalSocket *socket);

    QString name_;
    QString dir_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer *server_ = nullptr;
    qint64 holderPid_ = 0;
};
