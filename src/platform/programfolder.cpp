// The program's own folder.
#include "platform/programfolder.h"

#include "platform/pathrules.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
QString& chosenFolder()
{
    static QString folder;
    return folder;
}

QString defaultFolder()
{
    const QString executableFolder = QCoreApplication::applicationDirPath();
    if (keepsFilesBeside(executableFolder))
        return QDir::toNativeSeparators(executableFolder);
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dataFolder);
    return QDir::toNativeSeparators(dataFolder);
}
} // namespace

bool keepsFilesBeside(const QString& executableFolder)
{
    return !executableFolder.isEmpty() && QFileInfo(executableFolder).isWritable()
        && !QFileInfo(executableFolder + QStringLiteral("/../share/pixhound")).isDir();
}

QString shippedFile(
    const QString& executableFolder, const QString& installed, const QString& inSources)
{
    const QString installedPath
        = QDir::cleanPath(executableFolder + QStringLiteral("/../share/") + installed);
    if (QFileInfo(executableFolder + QStringLiteral("/../share/pixhound")).isDir()
        || QFileInfo::exists(installedPath))
        return installedPath;
    const QString inSourceTree = QStringLiteral(PIXHOUND_SOURCE_DIR "/") + inSources;
    return QFileInfo::exists(inSourceTree) ? inSourceTree : installedPath;
}

QString defaultSaveFolder(const QString& executableFolder, const QString& picturesFolder)
{
    if (keepsFilesBeside(executableFolder) || picturesFolder.isEmpty())
        return programFolder();
    return withTrailingSeparator(withTrailingSeparator(QDir::toNativeSeparators(picturesFolder))
        + QStringLiteral("Pixhound"));
}

QString defaultSaveFolder()
{
    return defaultSaveFolder(QCoreApplication::applicationDirPath(),
        QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
}

QString programFolder()
{
    if (chosenFolder().isEmpty())
        chosenFolder() = withTrailingSeparator(defaultFolder());
    return chosenFolder();
}

void setProgramFolder(const QString& folder)
{
    chosenFolder() = withTrailingSeparator(QDir::toNativeSeparators(folder));
}
