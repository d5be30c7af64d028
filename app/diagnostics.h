#pragma once

#include "log_capture.h"

#include <QDateTime>
#include <QString>

class cLinker;
class usbLink;
struct ProgramFacts;

// One text file for support: versions, the key, the endpoints, the packing log's
// path and size, then the latest log lines. Secrets the program holds, and
// whatever looks like a password, token or comment, are hidden.
QString diagnosticsText(const ProgramFacts &facts, const LogRing::Snapshot &log,
                        const QDateTime &now);

struct DiagnosticsSaved
{
    QString path; // the file written, or the one that could not be
    QString error; // empty on success
};

// Writes the diagnostics of the running program into folder, under a new name.
DiagnosticsSaved saveDiagnostics(const QString &folder, cLinker &linker, const usbLink &link,
                                 const LogRing &ring,
                                 const QDateTime &now = QDateTime::currentDateTime());
