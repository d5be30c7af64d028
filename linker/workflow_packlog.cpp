#include "workflow_packlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTextStream>

#include "linker_log.h"

PackingLog::PackingLog()
    : m_folder(settingsFolder())
{
}

PackingLog::PackingLog(const QString &folder)
    : m_folder(folder)
{
}

QString PackingLog::settingsFolder()
{
    // Only the location is wanted; the settings file itself is never touched.
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Varnex"),
                             QCoreApplication::applicationName());
    return QFileInfo(settings.fileName()).absolutePath();
}

QString PackingLog::filePath() const
{
    return m_folder + QStringLiteral("/Packlog.txt");
}

QByteArray PackingLog::formatLine(const PackLogEntry &entry)
{
    QByteArray line;
    QTextStream out(&line, QIODevice::WriteOnly);
    out << entry.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        << "    CenterName:" << entry.centerName << "    Subject:" << entry.subject
        << "    LockId:" << entry.lockId << "    ScannedRfid:" << entry.scannedRfid << "\r\n";
    out.flush();
    return line;
}

void PackingLog::ensureFolder() const
{
    QDir dir(m_folder);
    if (!dir.exists())
        dir.mkdir(m_folder);
}

bool PackingLog::append(const PackLogEntry &entry) const
{
    QFile file(filePath());
    // Binary append: the line carries its own CRLF.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qCWarning(lcLinker).noquote()
                << "packing log not written:" << filePath() << file.errorString();
        return false;
    }
    const QByteArray line = formatLine(entry);
    if (file.write(line) != line.size() || !file.flush()) {
        qCWarning(lcLinker).noquote()
                << "packing log line incomplete:" << filePath() << file.errorString();
        return false;
    }
    return true;
}
