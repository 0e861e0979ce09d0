// Where the images of a run go: the page folder, folder chains, the folder test and file names.
#include "store/localpaths.h"

#include "platform/messagebox.h"
#include "resources/messages.h"
#include "run/runhost.h"
#include "run/runstate.h"
#include "store/fileio.h"
#include "store/pathnames.h"

bool Get_LocalPath(const QString& base, QString& address, const PathConventions& conventions)
{
    const QString folder = pageFolderPath(base, address, conventions);
    const FileResult made = makeFolder(folder);
    // 75 is what making a folder that is already there gives: a later run on the same page
    // finds the images of the earlier one.
    if (made.number != 0 && made.number != ErrorNumber::PathFileAccess) {
        showMessage(made.numberAndDescription(), MessageIcon::Critical, Msg::titleError);
        return false;
    }
    address = folder;
    return true;
}

bool Make_Dir(const QString& path, const PathConventions& conventions)
{
    for (const QString& prefix : folderPrefixes(path, conventions)) {
        int errorNumber = 0;
        if (Check_Dir(prefix, errorNumber))
            continue;
        if (errorNumber != ErrorNumber::PathNotFound)
            return false;
        if (!Make_Dir_Sub(prefix, errorNumber))
            return false;
    }
    return true;
}

bool Make_Dir_Sub(const QString& path, int& errorNumber)
{
    const FileResult made = makeFolder(path);
    errorNumber = made.number;
    if (made.number == 0)
        return true;
    if (made.number != ErrorNumber::PathFileAccess && made.number != ErrorNumber::PathNotFound)
        showMessage(made.numberAndDescription(), MessageIcon::Critical, Msg::titleMakeDirSubError);
    return false;
}

bool Check_Dir(const QString& path, int& errorNumber)
{
    const FileResult entered = checkFolder(path);
    if (entered.number == 0)
        return true;
    errorNumber = entered.number;
    // A missing folder is expected: the callers make it or ask the user whether to.
    if (entered.number != ErrorNumber::PathNotFound)
        showMessage(entered.numberAndDescription(), MessageIcon::Critical, Msg::titleError);
    return false;
}

bool Get_FileList(RunHost& host, qsizetype first)
{
    QList<DownloadItem>& list = host.runState().udtDownload;
    if (list.isEmpty()) {
        host.Show_Info(Msg::noFiles);
        host.setCaption(Msg::appName);
        host.Set_Controls(true);
        return false;
    }

    QStringList names;
    names.reserve(list.size() - qMin(first, list.size()));
    for (qsizetype i = first; i < list.size(); ++i) {
        DownloadItem& item = list[i];
        // An entry named where it was found keeps its name: there the address was known to carry a
        // query that is no part of the file's name.
        if (item.FileName.isNull())
            item.FileName = fileNameOfUrl(item.URL);
        names.append(item.FileName);
    }
    if (!names.isEmpty())
        host.appendDownloadRows(names);
    return true;
}
