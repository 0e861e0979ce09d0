// The program's own folder: where DownloadList.txt, HTMLSource.txt and the default save folder go.
#pragma once

#include <QString>

// The program's folder, ending in the platform's separator: the executable's folder when it is
// writable (a portable copy), otherwise the per-user data folder, made when needed.
QString programFolder();

// Points programFolder() at another folder (tests use a temporary one); an empty path restores
// the normal choice.
void setProgramFolder(const QString& folder);
