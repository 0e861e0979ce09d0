// Where the images of a run go: the page folder named after an address, folder chains, the
// folder test, and the file name of every list entry.
#pragma once

#include "platform/pathrules.h"

#include <QString>

class RunHost;

// Turns address into one folder inside base (which ends in the separator), makes that folder and
// replaces address by its path (ending in the separator). An existing folder is accepted.
bool Get_LocalPath(const QString& base, QString& address,
    const PathConventions& conventions = PathConventions::forHost());

// Makes every missing folder along path; only prefixes that end in the separator are examined.
bool Make_Dir(const QString& path, const PathConventions& conventions = PathConventions::forHost());

// Makes one folder. True and errorNumber 0, or False and the runtime error number.
bool Make_Dir_Sub(const QString& path, int& errorNumber);

// True when the folder exists and can be entered. On failure the runtime error number (76:
// missing, reported silently; others with a message).
bool Check_Dir(const QString& path, int& errorNumber);

// Gives the entries of the download list from index first whose FileName is null the text
// after the last "/" of their URL, and appends their rows to lstDownload in one go; lstDownload
// must hold the rows of the entries before first (a list being built only grows). False, after
// the no-files ending (status, caption, idle), when the list is empty.
bool Get_FileList(RunHost& host, qsizetype first = 0);
