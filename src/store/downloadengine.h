// The download loop: every entry of the list fetched into the folder of the run, the next ones
// fetched ahead while one is handled, each row filed in list order as downloaded, already present
// or refused.
#pragma once

#include <QByteArray>
#include <QString>

class FetchAhead;
class RunHost;

// Runs the download of the whole list into folder (ending in the separator). True when every
// entry was handled and the completion box shown; False when the list is empty, on cancel, or
// after an error it has reported. early: the look-ahead that already fetched entries while the list
// was built, for the same folder; without one the loop starts its own.
bool Download_ByInet(RunHost& host, const QString& folder, FetchAhead* early = nullptr);

// What the folder of the run holds under an entry's name, found with one look at the disk.
enum class LocalEntry {
    NoFile, // missing, cannot be examined, or empty: the image is to be fetched
    Folder, // an existing folder (a link to one included)
    File, // a file with content: the image is already there
};
LocalEntry localEntry(const QString& path);

// True when data begins with the JPEG start-of-image bytes FF D8.
bool Is_JpegData(const QByteArray& data);
