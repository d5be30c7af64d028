#include "instance_lock.h"

#include <QCryptographicHash>
#include <QLocalSocket>
#include <QLoggingCategory>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <sddl.h>

#include <vector>

namespace {
Q_LOGGING_CATEGORY(lcLock, "single_instance")

// The user's SID as text ("S-1-5-21-..."), or empty.
QString userSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<char> buffer(size ? size : 1);
    QString text;
    if (GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        LPWSTR sid = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &sid)) {
            text = QString::fromWCharArray(sid);
            LocalFree(sid);
        }
    }
    CloseHandle(token);
    return text;
}

QString errorText(DWORD code)
{
    return QStringLiteral("Windows error %1").arg(code);
}
} // namespace

InstanceNames instanceNames(const QString &name, const QString &dir)
{
    QString id = name + QLatin1Char('-') + userSid();
    if (!dir.isEmpty()) // a caller's own place (tests) gets names of its own
        id += QLatin1Char('-')
                + QString::fromLatin1(
                        QCryptographicHash::hash(dir.toUtf8(), QCryptographicHash::Sha1)
                                .toHex()
                                .left(12));
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    // Mutex names live in the session's namespace; pipe names are machine-wide.
    return {QStringLiteral("Local\\") + id, id + QStringLiteral("-session%1").arg(session)};
}

struct InstanceLock::Platform
{
    QString name;
    HANDLE mutex = nullptr;
    QString error;
};

InstanceLock::InstanceLock(const QString &name)
    : d(std::make_unique<Platform>())
{
    d->name = name;
}

InstanceLock::~InstanceLock()
{
    if (d->mutex)
        CloseHandle(d->mutex);
}

InstanceLock::Result InstanceLock::tryLock()
{
    // Windows removes the mutex with the last handle, also when its holder is killed.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(d->name.utf16()));
    const DWORD err = GetLastError();
    if (!mutex) {
        if (err == ERROR_ACCESS_DENIED)
            return Result::Held; // another user's instance in this session
        d->error = errorText(err);
        return Result::Failed;
    }
    if (err == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return Result::Held;
    }
    d->mutex = mutex;
    return Result::Acquired;
}

qint64 InstanceLock::holderPid() const
{
    return 0; // the pipe's server tells it
}

QString InstanceLock::errorString() const
{
    return d->error;
}

qint64 serverProcessId(const QLocalSocket &socket)
{
    ULONG pid = 0;
    const auto pipe = reinterpret_cast<HANDLE>(socket.socketDescriptor());
    if (pipe && pipe != INVALID_HANDLE_VALUE && GetNamedPipeServerProcessId(pipe, &pid))
        return pid;
    qCDebug(lcLock) << "no process id for the pipe's server";
    return 0;
}
