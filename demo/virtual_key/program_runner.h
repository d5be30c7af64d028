#pragma once

#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// Starts the program as a child that sees the emulated bus, and stops it.
class ProgramRunner : public QObject
{
    Q_OBJECT

public:
    explicit ProgramRunner(QObject *parent = nullptr);
    ~ProgramRunner() override;

    // Output of the child goes to logFile (appended) when given.
    bool start(const QString &program, const QString &workDir, const QProcessEnvironment &env,
               const QString &logFile);
    // Asks the child to end, then kills it after graceMs.
    void stop(int graceMs = 5000);
    bool running() const { return m_process.state() != QProcess::NotRunning; }

signals:
    void runnerEvent(const QString &name, const QString &detail);

private:
    QProcess m_process;
    bool m_stopping = false;
};
