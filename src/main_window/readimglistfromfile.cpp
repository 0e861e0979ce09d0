// Reading method 1: the JPG list the user picks.
#include "main_window/readimglistfromfile.h"

#include "dialogs/clsgetopenfile.h"
#include "platform/runtimeerror.h"
#include "resources/messages.h"
#include "store/downloadlist.h"

bool Read_ImgListFromFile(RunHost& host, QWidget* owner, ListDialogMemory& memory)
{
    memory.prepare();

    int error = 0;
    QString fileName;
    QString fileTitle;
    {
        clsGetOpenFile dialog;
        dialog.setCancelError(true);
        dialog.sethWnd(owner);
        dialog.setInitDir(memory.strLastListDir);
        dialog.setFileName(memory.strLastListFile);
        dialog.setFilter(Msg::listFilter);
        dialog.setflags(clsGetOpenFile::OFN_FILEMUSTEXIST | clsGetOpenFile::OFN_HIDEREADONLY);
        dialog.setDialogTitle(Msg::listDialogTitle);
        dialog.setFilterIndex(static_cast<qint16>(memory.lngLastFilterIndex));
        dialog.ShowOpen();
        error = dialog.pendingError();
        fileName = dialog.FileName();
        fileTitle = dialog.FileTitle();
    }

    // The dialog asks for an existing file and turns every failure into a cancel it has told of.
    if (error == ErrorNumber::DialogCancelled)
        return false;

    memory.remember(fileName, fileTitle);
    return readImageList(host, fileName);
}
