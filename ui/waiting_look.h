#pragma once

class QString;
class QWidget;

// How a window shows that the program waits for the service on its behalf: a
// busy cursor, its buttons and fields switched off, and `text` in its status
// line (the child label named "lblStatus"). Nothing else changes, and
// endWaiting() puts back exactly what showWaiting() switched off.
void showWaiting(QWidget *window, const QString &text);
void endWaiting(QWidget *window);
