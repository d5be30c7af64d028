#include "program_runner.h"

ProgramRunner::ProgramRunner(QObject *parent)
    : QObject(parent)
{
    connect(&m_process, &QProcess::started, this, [this] {
        emit runnerEvent(QStringLiteral("program-started"), QString::number(m_process.processId()));
    });
    connect(&m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this](int code, QProcess::ExitStatus status) {
                emit runnerEvent(QStringLiteral("program-exited"),
                                 status == QProcess::CrashExit
                                         ? (m_stopping ? QStringLiteral("stopped")
                                                       : QStringLiteral("crashed"))
                                         : QString::number(code));
            });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            emit runnerEvent(QStringLiteral("program-failed"), m_process.errorString());
    });
}

ProgramRunner::~ProgramRunner()
{
    stop(2000);
}

bool ProgramRunner::start(const QString &program, const QString &workDir,
                          const QProcessEnvironment &env, const QString &logFile)
{
    m_stopping = false;
    m_process.setProcessEnvironment(env);
    if (!workDir.isEmpty())
        m_process.setWorkingDirectory(workDir);
    if (!logFile.isEmpty()) {
        m_process.setStandardOutputFile(logFile, QIODevice::Append);
        m_process.setStandardErrorFile(logFile, QIODevice::Append);
    } else {
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    }
    m_process.start(program, QStringList());
    return m_process.waitForStarted(10000);
}

void ProgramRunner::stop(int graceMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_stopping = true;
    m_process.terminate();
    if (!m_process.waitForFinished(graceMs)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}
