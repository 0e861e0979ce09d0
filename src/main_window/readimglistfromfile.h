// Reading method 1: the user picks a JPG list, which is read into the run's lists.
#pragma once

class QWidget;
class RunHost;
struct ListDialogMemory;

// Shows the open dialog over owner, starting where memory says (the program's folder and
// DownloadList.txt the first time), remembers the choice and reads the file into udtDownload and
// strPageList. False when the dialog was cancelled (nothing shown, memory unchanged) or the file
// could not be used (the reason has been shown).
bool Read_ImgListFromFile(RunHost& host, QWidget* owner, ListDialogMemory& memory);
