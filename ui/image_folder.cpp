#include "image_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace {
const char *const FolderName = "BoxwrightImages";
}

QStringList imageFolderCandidates()
{
    QStringList dirs;
    dirs << QDir::current().filePath(FolderName);
    if (QCoreApplication::instance()) {
        const QDir exeDir(QCoreApplication::applicationDirPath());
        dirs << exeDir.filePath(FolderName);
        // Installed under any prefix: <prefix>/bin/boxwright, <prefix>/share/boxwright.
        dirs << QDir::cleanPath(exeDir.filePath(
                QStringLiteral("../share/boxwright/%1").arg(QLatin1String(FolderName))));
    }
#ifdef BW_DATADIR
    dirs << QDir(QStringLiteral(BW_DATADIR)).filePath(FolderName);
#endif
    return dirs;
}

QString imageFolder()
{
    const QStringList dirs = imageFolderCandidates();
    for (const QString &dir : dirs) {
        if (QFileInfo(dir).isDir())
            return dir;
    }
    return dirs.first();
}
