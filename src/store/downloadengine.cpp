// The download loop: every entry of the list fetched into the folder of the run.
#include "store/downloadengine.h"

#include "platform/messagebox.h"
#include "platform/runtimeerror.h"
#include "resources/messages.h"
#include "run/runhost.h"
#include "run/runstate.h"
#include "store/fetchahead.h"
#include "store/fileio.h"
#include "store/pathnames.h"
#include "web/fetcher.h"
#include "web/transferpool.h"

#include <QFile>

#include <optional>
#include <sys/stat.h>
#include <utility>

namespace {

QString progressCaption(qsizetype current, qsizetype total)
{
    return QString::number(current) + u'/' + QString::number(total) + Msg::captionSuffix;
}

QString fileCounter(qsizetype finished, qsizetype total)
{
    return QString::number(finished) + u'/' + QString::number(total) + Msg::filesSuffix;
}

bool stopOnError(RunHost& host, const RuntimeError& error)
{
    host.setCaption(Msg::appName);
    QString text;
    switch (error.number) {
    case ErrorNumber::PermissionDenied:
    case ErrorNumber::PathFileAccess:
        text = Msg::diskNotWritable;
        break;
    case ErrorNumber::PathNotFound:
        text = Msg::folderInvalid;
        break;
    default:
        text = error.numberAndDescription();
        break;
    }
    showMessage(text, MessageIcon::Critical, Msg::titleError);
    host.Show_Info(Msg::cannotDownload);
    host.Set_Controls(true);
    return false;
}

void fileAsDenied(RunHost& host, const QString& fileName)
{
    host.appendResultRow(ResultList::Denied, fileName);
    host.selectLastResultRow(ResultList::Denied);
}

void fileAsSkipped(RunHost& host, const QString& fileName)
{
    host.appendResultRow(ResultList::Denied, fileName);
    host.Show_Info(fileName + Msg::skipped);
}

} // namespace

bool Download_ByInet(RunHost& host, const QString& folder, FetchAhead* early)
{
    RunState& state = host.runState();
    const qsizetype total = state.udtDownload.size();
    if (total == 0)
        return false;

    sweepKilledWrites(folder);
    const PathConventions conventions = PathConventions::forHost();
    std::optional<FetchAhead> fresh;
    FetchAhead& ahead = early ? *early : fresh.emplace(state, folder, conventions);
    QByteArray data;
    for (qsizetype i = 0; i < total; ++i) {
        state.blnSkip = false;
        host.setSkipEnabled(true);
        host.yield();
        if (state.blnCancel)
            return false;
        const DownloadItem item = std::as_const(state.udtDownload).at(i);
        // An entry decided without a request drops what was fetched ahead for it.
        std::unique_ptr<PooledFetch> fetch = ahead.take(i);

        host.setCaption(progressCaption(i + 1, total));
        host.setFileCounter(fileCounter(i, total));
        host.selectDownloadRow(i);

        // A name taken from a hostile address must not write outside the folder of the run; the
        // entry is refused without a request, and the run goes on.
        const FileNameRefusal refusal = fileNameRefusal(item.FileName, conventions);
        if (refusal != FileNameRefusal::None) {
            fileAsDenied(host, item.FileName);
            if (refusal == FileNameRefusal::TooLong)
                host.Show_Info(item.FileName + Msg::nameTooLong);
            host.selectLastResultRow(ResultList::Done);
            continue;
        }

        const QString localPath = folder + item.FileName;
        if (!Is_NoFile(localPath)) {
            host.appendResultRow(ResultList::Already, item.FileName);
            host.selectLastResultRow(ResultList::Already);
        } else if (state.blnSkip) {
            fileAsSkipped(host, item.FileName);
        } else {
            host.Show_Info(item.FileName + Msg::downloading);
            data.clear();
            // A connection of its server is always free for it: the fetches ahead leave one.
            if (!fetch)
                fetch = startFetch(state, item.URL, imageBodyLimit);
            ahead.fillAfter(i);
            // Skip gives up the transfer at once; the fetches ahead go on.
            const FetchOutcome outcome
                = fetch ? awaitFetch(host, *fetch, data, true) : FetchOutcome::NoRoot;
            fetch.reset();
            host.yield();
            if (state.blnCancel)
                return false;
            if (state.blnSkip) {
                data.clear();
                fileAsSkipped(host, item.FileName);
            } else if (outcome == FetchOutcome::Complete && Is_JpegData(data)) {
                const FileResult written = writeFileWhole(localPath, data, false);
                data.clear();
                if (written.number != 0) {
                    ahead.abandon();
                    return stopOnError(host, written);
                }
                host.appendResultRow(ResultList::Done, item.FileName);
                host.Show_Info(item.FileName + Msg::downloaded);
            } else {
                // A transfer cut short may well begin FF D8; only a whole image is kept.
                data.clear();
                fileAsDenied(host, item.FileName);
                // The byte count alone would read like a success.
                if (outcome == FetchOutcome::TooLarge)
                    host.Show_Info(item.FileName + Msg::imageTooLarge);
                else if (outcome == FetchOutcome::Incomplete)
                    host.Show_Info(item.FileName + Msg::imageIncomplete);
            }
        }
        host.selectLastResultRow(ResultList::Done);
    }

    host.restoreAndActivate();
    host.setCaption(Msg::captionDone);
    host.setFileCounter(fileCounter(total, total));
    showMessage(Msg::downloadComplete, MessageIcon::Information, Msg::titleDownloadComplete);
    host.Show_Info(QString());
    host.Set_Controls(true);
    return true;
}

bool Is_NoFile(const QString& path)
{
    if (path.contains(QChar(0)))
        return true;
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return true;
    // A folder under the name holds no image; the write that follows fails as it would on any
    // name the system cannot use for a file.
    if (S_ISDIR(status.st_mode))
        return true;
    return status.st_size == 0;
}

bool Is_JpegData(const QByteArray& data)
{
    return data.size() >= 2 && static_cast<unsigned char>(data.at(0)) == 0xFF
        && static_cast<unsigned char>(data.at(1)) == 0xD8;
}
