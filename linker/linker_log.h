#pragma once

#include <QLoggingCategory>

// Shared by the linker's source files; defined in linker.cpp.
Q_DECLARE_LOGGING_CATEGORY(lcLinker)
