// The pure naming rules of the store: the page folder made from an address, the folders a chain
// walk examines, a list entry's file name and whether that name is safe to write.
#pragma once

#include "platform/pathrules.h"

#include <QString>
#include <QStringList>

// The one folder name made from a page address: a leading "http://" or "ftp://" length dropped
// when the address holds that text anywhere, then every \ / : , ; * ? " < > | replaced by "_".
// The name never holds a separator of either platform and is never empty, "." or "..".
QString pageFolderName(const QString& address);

// base, the page folder name of address, and the separator. A name longer than the disk holds
// (see TooLong) is cut to its start, "~" and eight hexadecimal digits of a hash of the whole name.
QString pageFolderPath(
    const QString& base, const QString& address, const PathConventions& conventions);

// The prefixes of path that end in the separator, shortest first ("/a/b/" gives "/", "/a/",
// "/a/b/"). With network paths, a path starting with two separators begins at its share
// ("\\server\share\"); the server alone is never listed.
QStringList folderPrefixes(const QString& path, const PathConventions& conventions);

// The text after the last "/" of url; empty when url ends in "/" or holds no "/" at all.
QString fileNameOfUrl(const QString& url);
// The last segment of the address's path, without its query or fragment: "a/photo.jpg?w=800"
// gives "photo.jpg".
QString fileNameOfAddress(const QString& address);

// Why a list entry's name is refused before any request, or None when it may be written.
enum class FileNameRefusal {
    None,
    // It would put a file anywhere but directly in the folder of the run: empty, "." or "..",
    // holding a separator (on Windows also "\", "/" or ":") or a NUL character.
    Unsafe,
    // Longer than a file system holds: 255 bytes in the local encoding on Linux, 255 UTF-16
    // units on Windows.
    TooLong,
};

// The one rule that decides whether a list entry's name may be written into the folder of a run.
FileNameRefusal fileNameRefusal(const QString& name, const PathConventions& conventions);
