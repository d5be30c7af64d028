#include "diagnostics.h"

#include "program_facts.h"
#include "redactor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>

namespace {

// Line count of the packing log, or -1 when it cannot be read.
qint64 lineCount(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qint64 lines = 0;
    char buf[65536];
    for (qint64 n = file.read(buf, sizeof buf); n > 0; n = file.read(buf, sizeof buf))
        lines += std::count(buf, buf + n, '\n');
    return lines;
}

QString orNone(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("(none)") : text;
}

} // namespace

QString diagnosticsText(const ProgramFacts &f, const LogRing::Snapshot &log, const QDateTime &now)
{
    QString text;
    QTextStream out(&text);
    out << "Boxwright diagnostics\n"
        << "Written:        " << now.toString(Qt::ISODateWithMs) << "\n"
        << "Version:        " << f.version << "\n"
        << "Build:          " << f.build << "\n"
        << "Qt:             " << f.qt << "\n"
        << "USB stack:      " << f.usbStack << "\n"
        << "System:         " << f.system << "\n"
        << "Trace files:    " << f.traceFolder << (f.traceFolderWritable ? "" : " (not writable)")
        << "\n"
        << "\n"
        << "Key attached:   " << (f.key.attached ? "yes" : "no") << "\n"
        << "Key serial:     " << orNone(f.key.serial) << "\n"
        << "Key box:        " << orNone(f.key.box) << "\n"
        << "Key software:   " << orNone(f.key.software) << "\n"
        << "Key hardware:   " << orNone(f.key.hardware) << "\n"
        << "USB access:     "
        << (f.accessProblem.isEmpty() ? QStringLiteral("no problem reported") : f.accessProblem)
        << "\n"
        << "Web service:    " << orNone(f.serviceEndpoint) << "\n"
        << "Relay server:   " << orNone(f.relayEndpoint) << "\n"
        << "\nKey link since start:\n"
        << f.linkFigures << "\n"
        << "Packing log:    " << f.packingLog << "\n";
    const qint64 lines = lineCount(f.packingLog);
    out << "Packing lines:  "
        << (lines < 0 ? QStringLiteral("(no file yet, or not readable)") : QString::number(lines))
        << "\n\n";
    out << "Log, last " << log.lines.size() << " lines";
    if (log.dropped > 0)
        out << " (" << log.dropped << " earlier lines not kept)";
    out << ":\n";
    for (const QString &line : log.lines)
        out << line << "\n";
    out.flush();
    return text;
}

DiagnosticsSaved saveDiagnostics(const QString &folder, cLinker &linker, const usbLink &link,
                                 const LogRing &ring, const QDateTime &now)
{
    Redactor redactor;
    addProgramSecrets(linker, redactor);
    const QString text
            = redactor.apply(diagnosticsText(collectFacts(linker, link), ring.snapshot(), now));

    DiagnosticsSaved result;
    const QString base = QStringLiteral("boxwright-diagnostics-%1")
                                 .arg(now.toString(QStringLiteral("yyyyMMdd-HHmmss")));
    QDir dir(folder);
    result.path = dir.filePath(base + QStringLiteral(".txt"));
    // Never over an earlier file.
    for (int i = 2; QFileInfo::exists(result.path); ++i)
        result.path = dir.filePath(QStringLiteral("%1-%2.txt").arg(base).arg(i));

    QSaveFile file(result.path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        result.error = file.errorString();
        return result;
    }
    file.write(text.toUtf8());
    if (!file.commit())
        result.error = file.errorString();
    return result;
}
