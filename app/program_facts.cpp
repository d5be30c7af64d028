#include "program_facts.h"

#include "build_info.h"
#include "json.h"
#include "linker.h"
#include "ossarequesthandler.h"
#include "redactor.h"
#include "usb_link.h"

#include <QGuiApplication>
#include <QSysInfo>

namespace {

QString endpoint(const QString &host, const QString &port, const QString &scheme = QString())
{
    if (host.isEmpty())
        return {};
    return scheme + host + QLatin1Char(':') + port;
}

} // namespace

ProgramFacts collectFacts(cLinker &linker, const usbLink &link)
{
    ProgramFacts f;
    f.version = programVersion();
    f.build = buildDescription();
    f.qt = QStringLiteral("%1 (built with %2)")
                   .arg(QLatin1String(qVersion()), QLatin1String(QT_VERSION_STR));
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
    return f;
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
