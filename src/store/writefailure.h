// The one box that tells a failed write of the program's own files (HTMLSource.txt,
// DownloadList.txt).
#pragma once

#include <QString>

struct RunState;

// Shows text (which names the file) in an error box, unless the run has shown one for the same
// error number already: on a full disk every file after the first fails the same way, and a
// second box would tell the user nothing new. The status line tells each file that failed.
void showWriteFailure(RunState& state, int errorNumber, const QString& text);
