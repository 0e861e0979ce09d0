// The download loop: every entry of the list fetched into the folder of the run, the next ones
// fetched ahead while one is handled, each row filed in list order as downloaded, already present
// or refused.
#pragma once

#include <QByteArray>
#include <QString>

class RunHost;

// Runs the download of the whole list into folder (ending in the separator). True when every
// entry was handled and the completion box shown; False when the list is empty, on cancel, or
// after an error it has reported.
bool Download_ByInet(RunHost& host, const QString& folder);

// True when the file is missing, cannot be examined, or is empty.
bool Is_NoFile(const QString& path);

// True when data begins with the JPEG start-of-image bytes FF D8.
bool Is_JpegData(const QByteArray& data);
