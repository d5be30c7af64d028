#include "workflow_packlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTextStream>

#include "file_sync.h"
#include "linker_log.h"

namespace {

// Texts from outside (the service, the key) must not start a line of their own.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    return text;
}

} // namespace

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
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 streams write UTF-8 unless told otherwise; Qt 5's wrote the locale's encoding.
    out.setEncoding(QStringConverter::System);
#endif
    out << entry.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        << "    CenterName:" << oneLine(entry.centerName)
        << "    Subject:" << oneLine(entry.subject) << "    LockId:" << oneLine(entry.lockId)
        << "    ScannedRfid:" << oneLine(entry.scannedRfid) << "\r\n";
    out.flush();
    return line;
}

bool PackingLog::ensureFolder() const
{
    return QDir().mkpath(m_folder);
}

bool PackingLog::append(const PackLogEntry &entry, QString *error) const
{
    QString reason;
    bool written = false;
    QFile file(filePath());
    if (!ensureFolder()) {
        reason = QStringLiteral("the folder could not be created");
    } else if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        // Binary append (the line carries its own CRLF), straight to the system:
        // a failed write is seen here, not in a later flush.
        reason = file.errorString();
    } else {
        const qint64 sizeBefore = file.size();
        const QByteArray line = formatLine(entry);
        written = file.write(line) == line.size();
        if (!written)
            reason = file.errorString();
        else
            written = syncToDisk(file, &reason);
        // A line cut short would run into the next one.
        if (!written && file.size() > sizeBefore)
            file.resize(sizeBefore);
    }
    if (!written) {
        qCWarning(lcLinker).noquote() << "packing log not written:" << filePath() << reason;
        if (error)
            *error = reason;
    }
    return written;
}
