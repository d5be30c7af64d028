#include "workflow_packlog.h"

#include <QCoreApplication>
#include <QDate>
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

PackingLog::DayLines PackingLog::linesOf(const QDate &day, qint64 tailBytes) const
{
    DayLines out;
    QFile file(filePath());
    if (!file.exists())
        return out;
    if (!file.open(QIODevice::ReadOnly)) {
        out.error = file.errorString();
        return out;
    }
    // Only the end of a log that grows for years.
    const qint64 start = qMax<qint64>(0, file.size() - tailBytes);
    QByteArray tail;
    if (file.seek(start))
        tail = file.read(tailBytes);
    if (start > 0) {
        // The first line read is probably cut.
        const int end = tail.indexOf('\n');
        tail = end < 0 ? QByteArray() : tail.mid(end + 1);
    }
    const QByteArray prefix = day.toString(QStringLiteral("yyyy-MM-dd ")).toLatin1();
    bool first = true;
    for (QByteArray line : tail.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        if (line.startsWith(prefix)) {
            out.lines.prepend(QString::fromLocal8Bit(line));
            out.olderNotRead = out.olderNotRead || (first && start > 0);
        }
        first = false;
    }
    return out;
}
