#pragma once

#include <QString>

#include <memory>

class QLocalSocket;

// Where the running instance is found: the lock that only one process can hold and
// the local socket (Unix) or named pipe (Windows) it listens on.
struct InstanceNames
{
    QString lock; // empty: no place for a lock, run unguarded
    QString socket;
};

// Unix: files in a folder this user alone owns (dir, or a private folder found for the
// user). Windows: a mutex in the session's own Local\ namespace and a pipe whose name
// holds the user's SID and the session, so neither is shared across users or sessions.
InstanceNames instanceNames(const QString &name, const QString &dir);

// A lock that the system releases when its holder dies, however it dies: a kernel file
// lock (flock) on Unix, a named mutex on Windows. A lock left by a killed instance, or
// carried to another machine in a roaming profile, never blocks a start.
class InstanceLock
{
public:
    enum class Result {
        Acquired,
        Held, // a live process holds it
        Failed, // no lock can be made here
    };

    explicit InstanceLock(const QString &name);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    Result tryLock();
    // The holder's process id, where the lock tells it, else 0.
    qint64 holderPid() const;
    QString errorString() const;

private:
    struct Platform;
    std::unique_ptr<Platform> d;
};

// The process id of the instance at the other end of a connected socket, or 0.
qint64 serverProcessId(const QLocalSocket &socket);
