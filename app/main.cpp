#include "first_paint.h"
#include "high_dpi.h"
#include "image_folder.h"
#include "instance_guard.h"
#include "linker.h"
#include "linker_wiring.h"
#include "log_capture.h"
#include "mainwindow.h"
#include "messagebox_prompt.h"
#include "permission_notice.h"
#include "program_identity.h"
#include "program_menu.h"
#include "program_shutdown.h"
#include "session_end.h"
#include "single_instance.h"
#include "termination_signals.h"
#include "usb_link.h"
#include "workflow_dialogs_widgets.h"

#include <QApplication>
#include <QElapsedTimer>

#include <memory>

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    if (const std::optional<int> answered = answerInformationOptions(argc, argv))
        return *answered;
    qSetMessagePattern(
            QStringLiteral("%{if-category}%{category}: %{endif}%{function}: %{message}"));
    // Sharp at any scale: layouts and fonts scale with the screen, pictures use "@2x" files.
    enableHighDpiScaling();
    // The latest output, for "Save diagnostics...".
    LogRing logRing;
    LogCapture logCapture(logRing);
    QApplication app(argc, argv);
    if (const std::optional<int> refused = refuseUnknownOptions(QCoreApplication::arguments()))
        return *refused;
    setProgramIdentity();
    // One program per user owns the key; a second start brings the first forward.
    SingleInstance instance;
    int instanceExit = 0;
    if (!runAsOnlyInstance(instance, instanceExit))
        return instanceExit;

    // Outlives the linker, which shows its messages through it.
    MessageBoxPrompt prompt;
    // Until the very end: a late signal must not cut the teardown short.
    TerminationSignals termination;
    int exitCode = 0;
    {
        // The packing workflow's dialogs and the end of the run; gone before the linker.
        std::unique_ptr<WidgetWorkflowDialogs> workflowDialogs;
        std::unique_ptr<ProgramShutdown> shutdown;
        // The linker goes first, while the views it drives still exist; its
        // destructor sends the last disconnect and stops the USB thread.
        MainWindow window(imageFolder(), [&workflowDialogs, &shutdown] {
            shutdown.reset();
            workflowDialogs.reset();
            cLinker::destroyInstance();
            usbLink::destroyInstance();
        });
        endWithSession(&app, &window);
        cLinker *linker = cLinker::get();
        linker->setPrompt(&prompt);
        wireMainWindow(linker, &window);
        wirePermissionNotice(usbLink::get(), window.waitView());
        raiseWhenAsked(instance, &window);
        workflowDialogs = std::make_unique<WidgetWorkflowDialogs>(linker);
        workflowDialogs->setDashboard(window.dashboard());
        linker->setWorkflowDialogs(workflowDialogs.get());
        // Closing the window or the session's end request ends the run, even mid-workflow.
        shutdown = std::make_unique<ProgramShutdown>(linker, workflowDialogs.get());
        shutdown->endWhenClosed(&window);
        QObject::connect(&termination, &TerminationSignals::terminationRequested, shutdown.get(),
                         &ProgramShutdown::request);
        new FirstPaintNotice(&window, sinceStart);
        new ProgramMenu(&window, linker, usbLink::get(), &logRing);

        window.show();
        exitCode = app.exec();
    }
    return exitCode;
}
