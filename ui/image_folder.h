#pragma once

#include <QString>

// Where the dashboard's pictures live: "BoxwrightImages" in the current directory,
// else beside the executable, else in the installed data folder. Returns the first
// that exists, or the current-directory path when none does (pictures then stay empty).
QString imageFolder();

// The candidate folders in lookup order.
QStringList imageFolderCandidates();
