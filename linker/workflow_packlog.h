#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// One sealed box as it goes into the packing log.
struct PackLogEntry
{
    QDateTime when; // local time
    QString centerName;
    QString subject;
    QString lockId;
    QString scannedRfid;
};

// "Packlog.txt" in the folder of the per-user INI settings of "Varnex": one
// CRLF-terminated line appended per seal, never truncated.
class PackingLog
{
public:
    // Uses the settings folder of organisation "Varnex" and the application.
    PackingLog();
    explicit PackingLog(const QString &folder);

    static QString settingsFolder();
    // The line of one seal. Control characters in the texts become spaces, so
    // a seal is always exactly one line.
    static QByteArray formatLine(const PackLogEntry &entry);

    QString folder() const { return m_folder; }
    QString filePath() const;

    // Creates the folder with any missing parents; false when that failed.
    bool ensureFolder() const;
    // Appends the line and returns once it is on the disk. On failure returns
    // false with the reason in `error`; the file then ends where it ended before.
    bool append(const PackLogEntry &entry, QString *error = nullptr) const;

    // The lines of one day found in the file's last `tailBytes`, newest first.
    struct DayLines
    {
        QStringList lines;
        // The part read starts with a line of that day: older ones may be before it.
        bool olderNotRead = false;
        QString error; // why the file could not be read; empty when it is missing
    };
    static constexpr qint64 defaultTailBytes = 256 * 1024;
    DayLines linesOf(const QDate &day, qint64 tailBytes = defaultTailBytes) const;

private:
    QString m_folder;
};
