#include "program_facts.h"

#include "build_info.h"
#include "json.h"
#include "linker.h"
#include "ossarequesthandler.h"
#include "redactor.h"
#include "usb_link.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSysInfo>
#include <QTemporaryFile>

namespace {

QString endpoint(const QString &host, const QString &port, const QString &scheme = QString())
{
    if (host.isEmpty())
        return {};
    return scheme + host + QLatin1Char(':') + port;
}

// Tried, not guessed from permission bits, which say little about Windows' ACLs.
bool canCreateFilesIn(const QString &folder)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".boxwright-probe-XXXXXX")));
    return probe.open();
}

QString milliseconds(uint64_t us)
{
    return QString::number(double(us) / 1000.0, 'f', 2) + QStringLiteral(" ms");
}

// Enough for a technician to tell a healthy link at a glance.
QString describeLink(const usbLink::Figures &f)
{
    return QStringLiteral("Frames from key:    %1 (%2 bytes read)\n"
                          "Frames to key:      %3 (%4 bytes)\n"
                          "Failed transfers:   %5\n"
                          "Pipe resets:        %6\n"
                          "Reconnects:         %7 (%8 after writes kept failing)\n"
                          "Paced pieces:       %9, pause mean %10, max %11 (%12)\n")
            .arg(f.framesIn)
            .arg(f.bytesIn)
            .arg(f.framesOut)
            .arg(f.bytesOut)
            .arg(f.failedTransfers)
            .arg(f.pipeResets)
            .arg(f.reconnects)
            .arg(f.lostOnWrites)
            .arg(f.pauses)
            .arg(milliseconds(f.pauseMeanUs), milliseconds(f.pauseMaxUs), f.pacing);
}

} // namespace

ProgramFacts collectFacts(cLinker &linker, const usbLink &link)
{
    ProgramFacts f;
    f.version = programVersion();
    f.build = buildDescription();
    f.qt = QStringLiteral("%1 (built with %2")
                   .arg(QLatin1String(qVersion()), QLatin1String(QT_VERSION_STR));
    if (!qtDistribution().isEmpty())
        f.qt += QStringLiteral(", Debian %1").arg(qtDistribution());
    f.qt += QLatin1Char(')');
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        f.qt += QStringLiteral(", platform %1").arg(QGuiApplication::platformName());
    f.usbStack = usbStackDescription();
    f.system = QStringLiteral("%1, kernel %2 %3, %4")
                       .arg(QSysInfo::prettyProductName(), QSysInfo::kernelType(),
                            QSysInfo::kernelVersion(), QSysInfo::currentCpuArchitecture());
    f.key.attached = link.isConnected();
    f.key.serial = linker.serialText();
    f.key.box = linker.boxText();
    f.key.software = linker.swText();
    f.key.hardware = linker.hwText();
    f.accessProblem = link.accessProblem().hint;
    f.serviceEndpoint = endpoint(linker.serviceHostText(), linker.servicePortText(),
                                 QStringLiteral("http://"));
    f.relayEndpoint = endpoint(linker.serverText(), linker.serverPortText());
    f.packingLog = linker.packingWorkflow().packingLog().filePath();
    f.traceFolder = QDir::toNativeSeparators(QDir::currentPath());
    f.traceFolderWritable = canCreateFilesIn(QDir::currentPath());
    f.licence = QStringLiteral("Apache License 2.0");
    f.notices = thirdPartyNoticesPath();
    f.linkFigures = describeLink(link.figures());
    return f;
}

QString thirdPartyNoticesPath()
{
    // Beside the program on Windows, in its doc folder when installed on Linux.
    const QDir bin(QCoreApplication::applicationDirPath());
    for (const QString &candidate :
         {bin.filePath(QStringLiteral("third-party-notices.txt")),
          bin.filePath(QStringLiteral("../share/doc/boxwright/third-party-notices.txt"))}) {
        if (QFileInfo(candidate).isFile())
            return QDir::toNativeSeparators(QFileInfo(candidate).canonicalFilePath());
    }
    return {};
}

void addProgramSecrets(cLinker &linker, Redactor &redactor)
{
    for (const QString &comment : linker.packingWorkflow().recentComments())
        redactor.addSecret(comment);
    const JSON *service = linker.packingWorkflow().service();
    if (!service)
        return;
    redactor.addPassword(service->password());
    if (const OssaRequestHandler *handler = service->requestHandler())
        redactor.addSecret(QString::fromUtf8(handler->getToken()));
}
