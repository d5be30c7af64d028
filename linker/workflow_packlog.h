#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

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
    static QByteArray formatLine(const PackLogEntry &entry);

    QString folder() const { return m_folder; }
    QString filePath() const;

    // Creates the folder (one level) when it is missing. Failure is not fatal:
    // append() then reports it.
    void ensureFolder() const;
    // Appends one line; on failure logs a warning naming the file and returns false.
    bool append(const PackLogEntry &entry) const;

private:
    QString m_folder;
};
