#pragma once

#include <QStringList>

#include <optional>

// --help and --version: answered before any window system is contacted, so
// they work without a display. Returns the exit code when one of them was given.
std::optional<int> answerInformationOptions(int argc, char **argv);

// The application's arguments once the toolkit has taken its own: anything left
// that is an option is refused with a message. Returns the exit code then.
std::optional<int> refuseUnknownOptions(const QStringList &arguments);

// Version, desktop entry name and window icon, for task bars and window lists.
// After the application object exists.
void setProgramIdentity();
