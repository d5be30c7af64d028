#pragma once

#include <QString>

// "1.0.2"
QString programVersion();
// The commit, build type and compiler of this build.
QString buildDescription();
