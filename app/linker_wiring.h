#pragma once

class cLinker;
class KeyWindow;
class MainWindow;

// The dashboard shows what the linker emits, and its buttons call the linker's
// requests. Kept out of ui/ so the widgets never depend on the linker.
void wireDashboard(cLinker *linker, KeyWindow *dashboard);

// wireDashboard for the window's dashboard, plus the linker's view switch.
void wireMainWindow(cLinker *linker, MainWindow *window);
