#pragma once

#include <QString>

// "1.0.2"
QString programVersion();
// The commit, build type and compiler of this build.
QString buildDescription();
// The Debian version of the Qt the program runs on ("5.15.8+dfsg-11+deb12u3"), or
// empty when the build did not know it.
QString qtDistribution();
