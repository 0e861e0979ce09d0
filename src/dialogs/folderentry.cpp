// The checks of a typed save folder, and the drive test.
#include "dialogs/folderentry.h"

#include "platform/stripspaces.h"
#include "resources/messages.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

QString expandHomeFolder(
    const QString& path, const PathConventions& conventions, const QString& homeFolder)
{
    if (conventions.driveLetters || !path.startsWith(u'~'))
        return path;
    if (path.size() == 1)
        return homeFolder;
    if (path.at(1) != conventions.separator)
        return path; // "~user" is left alone: only the user's own home is meant
    QString home = homeFolder;
    while (home.endsWith(conventions.separator))
        home.chop(1);
    return home + path.mid(1);
}

QString forbiddenCharacterMessage(const PathConventions& conventions)
{
    return Msg::forbiddenFolderChars + Msg::crlf + conventions.forbiddenFolderChars;
}

QString fileInTheWayMessage(const QString& file) { return Msg::fileInTheWay + Msg::crlf + file; }

namespace {
// The nearest existing part of the folder's path when it is a file rather than a folder.
QString fileAlongPath(const QString& folder)
{
    QString path = QDir::cleanPath(folder);
    while (!QFileInfo::exists(path)) {
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            return {};
        path = parent;
    }
    return QFileInfo(path).isDir() ? QString() : QDir::toNativeSeparators(path);
}
} // namespace

FolderEntryResult checkFolderEntry(const QString& typed, const PathConventions& conventions,
    const QString& homeFolder, const DriveTest& driveTest)
{
    const QString entry = expandHomeFolder(stripSpaces(typed).toString(), conventions, homeFolder);
    if (entry.size() < 2)
        return { FolderEntryVerdict::TooShort, {} };
    // A relative path would land wherever the program happens to run; Windows names the same
    // fault through its drive test.
    if (!conventions.driveLetters && !entry.startsWith(conventions.separator))
        return { FolderEntryVerdict::NotAbsolute, {} };

    const bool networkPath
        = conventions.networkPaths && entry.startsWith(QString(2, conventions.separator));
    if (!networkPath) {
        const QString drive = conventions.driveLetters ? entry.left(3) : entry;
        if (!driveTest(drive))
            return { FolderEntryVerdict::InvalidDrive, {} };
    }

    // Built from the stripped entry: spaces typed after the last separator would otherwise
    // become a folder named with spaces, which Windows silently drops but Linux really makes.
    const QString folder = withTrailingSeparator(entry, conventions);

    // The first three characters are skipped so that the colon of "C:\" passes.
    for (const QChar forbidden : conventions.forbiddenFolderChars) {
        if (folder.indexOf(forbidden, 3) >= 0)
            return { FolderEntryVerdict::ForbiddenCharacter, {} };
    }
    // Otherwise the folder test would call the file a missing folder and offer to make it.
    if (const QString file = fileAlongPath(folder); !file.isEmpty())
        return { FolderEntryVerdict::FileInTheWay, file };
    return { FolderEntryVerdict::Accepted, folder };
}

std::optional<bool> mountTableReady(const QString& folder)
{
    const QStorageInfo volume(folder);
    if (!volume.isValid())
        return std::nullopt;
    return volume.isReady();
}

bool Check_Drive(
    const QString& drive, const PathConventions& conventions, const VolumeLookup& volumeReady)
{
    if (conventions.driveLetters) {
        const QChar letter = drive.isEmpty() ? QChar() : drive.at(0).toUpper();
        if (letter < u'A' || letter > u'Z')
            return false;
        const QStorageInfo volume(QString(letter) + u':' + conventions.separator);
        if (!volume.isValid() || !volume.isReady())
            return false;
        return QDir::setCurrent(QString(letter) + u':');
    }

    if (!drive.startsWith(u'/'))
        return false;
    // A folder that does not exist yet is still on the volume of its nearest existing parent.
    const QString entered = QDir::cleanPath(drive);
    QString folder = entered;
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            return false;
        folder = parent;
    }
    if (const std::optional<bool> ready = volumeReady(folder))
        return *ready;
    return folder == entered || QFileInfo(folder).isWritable();
}
