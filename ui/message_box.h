#pragma once

#include <QMessageBox>

// Room the window manager takes beside a title: its icon and buttons.
constexpr int TitleBarExtra = 150;

// Widens `box` so the window manager can show its whole title, and lets the
// operator select and copy its text.
void makeReadable(QMessageBox &box);

// A parentless modal box with one OK button, made readable; waits until dismissed.
void showMessageBox(QMessageBox::Icon icon, const QString &title, const QString &text);
