#pragma once

class MainWindow;
class QCoreApplication;

// Ends the program when the desktop session ends (log off, shut down) the way
// closing the window does: the window's teardown (the key's goodbye, the link
// stopped) runs as the application is about to quit. On Windows the session's
// end arrives as that signal alone, and the process may be ended right after it,
// before the event loop returns; closing the window reaches it too, just before
// the window is destroyed, which then has nothing left to do.
void endWithSession(QCoreApplication *app, MainWindow *window);
