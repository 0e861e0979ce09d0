// The checks of a typed save folder: the steps of the save-folder dialog's OK that need no window,
// and the drive test.
#pragma once

#include "platform/pathrules.h"

#include <QString>
#include <functional>
#include <optional>

enum class FolderEntryVerdict {
    Accepted, // the folder is ready for the folder test
    TooShort, // fewer than two characters once the spaces are stripped
    NotAbsolute, // without drive letters: the path does not start at the root
    InvalidDrive, // the drive test failed
    ForbiddenCharacter, // a forbidden character from the fourth character on
    FileInTheWay, // the path, or a folder along it, is an existing file
};

struct FolderEntryResult
{
    FolderEntryVerdict verdict = FolderEntryVerdict::TooShort;
    // When Accepted: the folder to test and store, ending in the separator, with spaces stripped
    // and (on Linux) a leading "~" turned into the home folder. When FileInTheWay: the file.
    QString folder;
};

// Given what names the drive (Windows: the entry's first three characters; Linux: the whole
// entry), true when the drive can be used.
using DriveTest = std::function<bool(const QString&)>;

// Runs the checks in order: strip spaces and require two characters; where there are no drive
// letters, require a path from the root; the drive test (skipped for a network path "\\..."
// where those exist); build the folder with its final separator; refuse the forbidden characters
// from the fourth character on; refuse a path that is, or runs through, an existing file. The
// first failing check decides.
FolderEntryResult checkFolderEntry(const QString& typed, const PathConventions& conventions,
    const QString& homeFolder, const DriveTest& driveTest);

// On Linux, "~" alone or followed by the separator stands for homeFolder; anything else, and
// every Windows path, is returned unchanged.
QString expandHomeFolder(
    const QString& path, const PathConventions& conventions, const QString& homeFolder);

// The message of a forbidden character: the reason, CR LF, and the forbidden characters.
QString forbiddenCharacterMessage(const PathConventions& conventions);

// The message of a file where a folder should be: the reason, CR LF, and the file's path.
QString fileInTheWayMessage(const QString& file);

// What the mount table says of the volume holding an existing folder: whether it is ready, or
// nothing when no entry covers the folder (a plain chroot, some containers).
using VolumeLookup = std::function<std::optional<bool>(const QString& folder)>;
std::optional<bool> mountTableReady(const QString& folder);

// The drive test. Windows: the drive of the first letter exists and is ready; it becomes the
// current drive. Linux: the path is absolute and the volume holding it (its nearest existing
// folder) is ready; where no volume is known, the folder exists or that nearest folder is
// writable. A failure is the device-unavailable case and shows no message.
bool Check_Drive(const QString& drive, const PathConventions& conventions,
    const VolumeLookup& volumeReady = mountTableReady);
