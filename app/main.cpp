#include "first_paint.h"
#include "image_folder.h"
#include "linker.h"
#include "linker_wiring.h"
#include "mainwindow.h"
#include "messagebox_prompt.h"
#include "usb_link.h"

#include <QApplication>
#include <QElapsedTimer>

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    qSetMessagePattern(
            QStringLiteral("%{if-category}%{category}: %{endif}%{function}: %{message}"));
    QApplication app(argc, argv);

    // Outlives the linker, which shows its messages through it.
    MessageBoxPrompt prompt;
    int exitCode = 0;
    {
        // The linker goes first, while the views it drives still exist; its
        // destructor sends the last disconnect and stops the USB thread.
        MainWindow window(imageFolder(), [] {
            cLinker::destroyInstance();
            usbLink::destroyInstance();
        });
        cLinker *linker = cLinker::get();
        linker->setPrompt(&prompt);
        wireMainWindow(linker, &window);
        new FirstPaintNotice(&window, sinceStart);

        window.show();
        exitCode = app.exec();
    }
    return exitCode;
}
