// The download list on disk: DownloadList.txt written from the run's list, and a JPG list read
// into it.
#pragma once

#include <QString>

class RunHost;

// Writes every entry's address and CR LF to DownloadList.txt in the program's folder (code page
// 932, characters it cannot hold percent-encoded). False after a failure, which it has reported.
bool Write_DownloadList(RunHost& host);

// Writes DownloadList.txt as the window closes, unless the file was changed on disk after this
// program last wrote or read it: then it is left as the user made it. A file that holds the list
// already is not written again. False when the list is not on disk as it stands.
bool writeListAtClose(RunHost& host);

// Reads the JPG list at path into udtDownload and strPageList, checking every line. False when
// the file could not be read or a line was rejected (both lists then empty); it has reported why.
bool readImageList(RunHost& host, const QString& path);

// What the JPG-list open dialog remembers between openings while the window lives.
struct ListDialogMemory
{
    QString strLastListDir; // ends in the separator
    QString strLastListFile;
    int lngLastFilterIndex = 1; // 1: text files, 2: all files

    // Sets the first-use values (the program's folder, "DownloadList.txt", 1) when still empty.
    void prepare();
    // Remembers a choice from the dialog's FileName and FileTitle.
    void remember(const QString& fileName, const QString& fileTitle);
};
