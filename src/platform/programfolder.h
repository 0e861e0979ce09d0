// The program's own folder: where DownloadList.txt, HTMLSource.txt and the default save folder go.
#pragma once

#include <QString>

// The program's folder, ending in the platform's separator: the executable's folder when
// keepsFilesBeside() says so (a portable copy), otherwise the per-user data folder, made when
// needed.
QString programFolder();

// True when a program started from executableFolder keeps its files there: the folder is
// writable and is not the bin folder of an installed copy (one with "../share/pixhound" beside
// it), which takes no files even where it is writable (root, a prefix in the home folder).
bool keepsFilesBeside(const QString& executableFolder);

// The save folder a run starts from: programFolder() for a copy that keeps its files beside
// executableFolder, otherwise the "Pixhound" folder in picturesFolder (the desktop's Pictures
// folder), ending in the separator. The folder is not made here: the run makes it when first used.
QString defaultSaveFolder(const QString& executableFolder, const QString& picturesFolder);
// The same for this program and this user.
QString defaultSaveFolder();

// A file the program ships: in an installed copy (one with "../share/pixhound" beside
// executableFolder) the file at ../share/<installed>, otherwise the first that exists of that one
// and the source tree's <inSources> (a copy run from its build folder). Where neither exists, the
// installed path, so that a message can say where the file belongs.
QString shippedFile(
    const QString& executableFolder, const QString& installed, const QString& inSources);

// Points programFolder() at another folder (tests use a temporary one); an empty path restores
// the normal choice.
void setProgramFolder(const QString& folder);
