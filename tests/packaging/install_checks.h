#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct CommandResult
{
    int exitCode = -1; // -1: did not start, crashed or timed out
    QByteArray out;
    QByteArray err;
};

CommandResult runCommand(const QString &program, const QStringList &args,
                         const QString &workDir = QString(),
                         const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                         int timeoutMs = 60000);

// Files below root, relative to it, sorted.
QStringList filesBelow(const QString &root);

// Everything wrong with an installed tree whose prefix is the given folder (a
// "cmake --install --prefix" folder, or the usr folder of an unpacked package).
// Empty when the tree is complete, holds nothing else and its parts fit together.
QStringList installedTreeProblems(const QString &prefix);

// Runs a copy of the image lookup helper from the tree's bin folder, from an
// empty working directory; empty when it picks the installed image folder.
QString imageLookupProblem(const QString &prefix);
