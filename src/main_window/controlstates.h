// Which of the main window's controls can be used, decided in one place from the run and the
// options chosen.
#pragma once

struct ControlStates
{
    bool download = false; // cmdDownload
    bool cancel = false; // cmdCancel
    bool address = false; // txtURL
    bool saveFolder = false; // chkSetSaveFolder
    bool linkSource = false; // both optLinkJpg buttons
    bool skipGivenPage = false; // chkSkipCurrentPageJpg
    bool modernPages = false; // chkModernPages
    bool method = false; // the three optLinkMethod buttons
};

// A run under way leaves only Cancel (Skip is the download loop's own). Idle, method 1 (from a
// JPG list) takes neither an address nor a link source; the save folder is chosen for the methods
// that download (0 and 1); the given page's images can be left out only with link source 1.
ControlStates enabledControls(bool running, int method, int source);
