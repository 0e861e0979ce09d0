// What the Cancel button does once the user has answered Yes, for the window and its stand-ins
// alike.
#pragma once

class RunHost;

// Stops every transfer for good (stopTransfers) before anything else, so that no request leaves
// while the list is written or its error box is open; then writes DownloadList.txt when the list
// is not empty (its result ignored), shows "処理を中断しました", sets the caption to "Pixhound" and
// makes the window idle.
void Cancel_Run(RunHost& host);
