// File operations of the store that report the runtime error of the real failure (from errno),
// and the write that never leaves a partial file under the final name.
#pragma once

#include "platform/runtimeerror.h"

#include <QByteArray>
#include <QString>

// The outcome of a file operation: number 0 on success.
using FileResult = RuntimeError;

// Makes one folder (its parent must exist). An existing folder or file gives 75.
FileResult makeFolder(const QString& path);

// Whether path is a folder that can be entered; the process's current folder stays as it is. A
// missing folder gives 76.
FileResult checkFolder(const QString& path);

// Writes data to a hidden temporary file in path's folder and renames it to path once it is
// complete, so that path holds either its old content or all of data. Every failure removes the
// temporary file. A file the user may not write is refused (70) and left as it is; a link is
// followed. durable: the data reaches the disk before the rename.
FileResult writeFileWhole(const QString& path, const QByteArray& data, bool durable);

// Opens a new hidden temporary file of the kind writeFileWhole uses (".pixhound-<pid>-<n>.part")
// in folder (ending in the separator), for writing; -1 with errno set on failure. Safe on any
// thread. name: its path, encoded for the system.
int openTemporaryFile(const QString& folder, QByteArray& name);
// Writes every byte, going on after interruptions; false with errno set on failure.
bool writeAll(int fd, const char* bytes, qint64 size);
// Puts the complete temporary file name (still open as fd, or closed: -1) in path's place as
// writeFileWhole does: a link is followed, a file the user may not write is refused (70) and left
// as it is, the old file's permissions are kept. fd is closed either way; the temporary file is
// gone unless it has become path.
FileResult placeTemporaryFile(int fd, const QByteArray& name, const QString& path);
// Renames the closed temporary file name to target (encoded for the system) in one step if
// nothing has that name yet: the common case, which needs no look at the name first. False, and
// nothing changed, when something has it or the file system cannot tell.
bool placeWhereFree(const QByteArray& name, const QByteArray& target);

// Removes the temporary files that writeFileWhole left in folder (ending in the separator) when
// its process was killed mid-write. A temporary file of a process still running is left alone.
void sweepKilledWrites(const QString& folder);

// Reads the whole file into data. A missing file gives 53, anything but a regular file (a folder,
// a pipe, a device) 75, a file longer than maxBytes 7; data is then empty.
FileResult readFileWhole(const QString& path, QByteArray& data, qint64 maxBytes);
