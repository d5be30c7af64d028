#pragma once

#include <QObject>

#include <memory>

// The session's request to end the program, as a Qt signal on the thread that
// created this object. On Unix these are SIGTERM (logout, kill), SIGINT and
// SIGHUP; the handler only writes to a socket, the rest runs in the event loop.
// The previous handling comes back when the object is destroyed. One at a time.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // False where nothing is installed here (another object was first, the
    // system refused, or the platform ends the session another way).
    bool active() const;

signals:
    void terminationRequested();

private:
    struct Platform;
    std::unique_ptr<Platform> d;
};
