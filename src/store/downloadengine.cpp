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
#include "store/streamedfile.h"
#include "web/connectioncache.h"
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

// The rows filed into the three result lists, counted for the completion box.
class Filing
{
public:
    explicit Filing(RunHost& host)
        : m_host(host)
    { }
    void file(ResultList list, const QString& fileName)
    {
        m_host.appendResultRow(list, fileName);
        ++m_counts[int(list)];
    }
    void deny(const QString& fileName)
    {
        file(ResultList::Denied, fileName);
        m_host.selectLastResultRow(ResultList::Denied);
    }
    void skip(const QString& fileName)
    {
        file(ResultList::Denied, fileName);
        m_host.Show_Info(fileName + Msg::skipped);
    }
    qsizetype count(ResultList list) const { return m_counts[int(list)]; }

private:
    RunHost& m_host;
    qsizetype m_counts[3] {};
};

// While the loop runs, the fetches ahead may take the connection kept for the entry at its turn,
// which has nearly always been fetched ahead already; an entry that needs a fetch of its own
// takes it back (TransferPool::lendReserve).
class ReserveLent
{
public:
    explicit ReserveLent(std::shared_ptr<ConnectionCache> connections)
        : m_connections(std::move(connections))
    { }
    ~ReserveLent() { m_connections->pool().lendReserve(TransferPool::Reserve::Kept); }
    ReserveLent(const ReserveLent&) = delete;
    ReserveLent& operator=(const ReserveLent&) = delete;
    void lend() const { m_connections->pool().lendReserve(TransferPool::Reserve::Lent); }

private:
    const std::shared_ptr<ConnectionCache> m_connections;
};

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
    const ReserveLent lent(runConnections(state));
    QByteArray data;
    Filing filed(host);
    for (qsizetype i = 0; i < total; ++i) {
        state.blnSkip = false;
        host.setSkipEnabled(true);
        host.yield();
        if (state.blnCancel)
            return false;
        const DownloadItem item = std::as_const(state.udtDownload).at(i);
        // An entry decided without a request drops what was fetched ahead for it.
        std::unique_ptr<PooledFetch> fetch = ahead.take(i);
        // An entry fetched ahead needs no connection of its own.
        if (fetch)
            lent.lend();

        host.setCaption(progressCaption(i + 1, total));
        host.setFileCounter(fileCounter(i, total));
        host.selectDownloadRow(i);

        // A name taken from a hostile address must not write outside the folder of the run; the
        // entry is refused without a request, and the run goes on.
        const FileNameRefusal refusal = fileNameRefusal(item.FileName, conventions);
        if (refusal != FileNameRefusal::None) {
            filed.deny(item.FileName);
            if (refusal == FileNameRefusal::TooLong)
                host.Show_Info(item.FileName + Msg::nameTooLong);
            host.selectLastResultRow(ResultList::Done);
            continue;
        }

        const QString localPath = folder + item.FileName;
        // A folder under the name would fail the write and stop the run; the entry alone is
        // refused, unfetched.
        const LocalEntry present = localEntry(localPath);
        if (present == LocalEntry::Folder) {
            filed.deny(item.FileName);
            host.Show_Info(item.FileName + Msg::nameIsFolder);
            host.selectLastResultRow(ResultList::Done);
            continue;
        }
        if (present == LocalEntry::File) {
            filed.file(ResultList::Already, item.FileName);
            host.selectLastResultRow(ResultList::Already);
        } else if (state.blnSkip) {
            filed.skip(item.FileName);
        } else {
            host.Show_Info(item.FileName + Msg::downloading);
            data.clear();
            // A connection of its server is always free for it: the fetches ahead leave one. The
            // body streams into a temporary file of the folder; the file takes its final name
            // below, only once the entry is decided.
            if (!fetch)
                fetch = startFetch(
                    state, item.URL, imageBodyLimit, std::make_shared<StreamedFile>(folder));
            std::shared_ptr<StreamedFile> file
                = fetch ? std::dynamic_pointer_cast<StreamedFile>(fetch->sink()) : nullptr;
            ahead.fillAfter(i);
            // Skip gives up the transfer at once; the fetches ahead go on.
            FetchOutcome outcome
                = fetch ? awaitFetch(host, *fetch, data, true) : FetchOutcome::NoRoot;
            // The budget may have ended a fetch ahead just before its turn came: it is made again.
            if (fetch && fetch->refusedByGate() && !state.blnCancel && !state.blnSkip) {
                fetch = startFetch(
                    state, item.URL, imageBodyLimit, std::make_shared<StreamedFile>(folder));
                file = fetch ? std::dynamic_pointer_cast<StreamedFile>(fetch->sink()) : nullptr;
                data.clear();
                outcome = fetch ? awaitFetch(host, *fetch, data, true) : FetchOutcome::NoRoot;
            }
            // Whatever the entry's fate other than done, the fetch takes its file with it.
            const std::unique_ptr<PooledFetch> decided = std::move(fetch);
            host.yield();
            if (state.blnCancel)
                return false;
            const FileResult unwritten = file ? file->failure() : FileResult {};
            if (state.blnSkip) {
                data.clear();
                filed.skip(item.FileName);
            } else if (unwritten.number != 0) {
                // A write that failed while the body streamed in, ahead of its turn or not, is told
                // now, as a failed write of the whole body would be.
                ahead.abandon();
                return stopOnError(host, unwritten);
            } else if (outcome == FetchOutcome::Complete && Is_JpegData(data)) {
                const FileResult written
                    = file ? file->commit(localPath) : writeFileWhole(localPath, data, false);
                data.clear();
                if (written.number != 0) {
                    ahead.abandon();
                    return stopOnError(host, written);
                }
                filed.file(ResultList::Done, item.FileName);
                host.Show_Info(item.FileName + Msg::downloaded);
            } else {
                // A transfer cut short may well begin FF D8; only a whole image is kept.
                data.clear();
                filed.deny(item.FileName);
                // The byte count alone would read like a success.
                if (outcome == FetchOutcome::TooLarge)
                    host.Show_Info(item.FileName + Msg::imageTooLarge);
                else if (outcome == FetchOutcome::Incomplete)
                    host.Show_Info(item.FileName + Msg::imageIncomplete);
                else if (const QString failure = decided && outcome != FetchOutcome::Cancelled
                             ? decided->lastAttempt().failureText()
                             : QString();
                         !failure.isEmpty())
                    host.Show_Info(Msg::imageFailed(item.FileName, failure));
            }
        }
        host.selectLastResultRow(ResultList::Done);
    }

    host.restoreAndActivate();
    host.setCaption(Msg::captionDone);
    host.setFileCounter(fileCounter(total, total));
    showMessage(Msg::downloadComplete + Msg::crlf
            + Msg::downloadCounts(filed.count(ResultList::Done), filed.count(ResultList::Already),
                filed.count(ResultList::Denied), total),
        MessageIcon::Information, Msg::titleDownloadComplete);
    host.Show_Info(QString());
    host.Set_Controls(true);
    return true;
}

LocalEntry localEntry(const QString& path)
{
    if (path.contains(QChar(0)))
        return LocalEntry::NoFile;
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return LocalEntry::NoFile;
    if (S_ISDIR(status.st_mode))
        return LocalEntry::Folder;
    return status.st_size == 0 ? LocalEntry::NoFile : LocalEntry::File;
}

bool Is_JpegData(const QByteArray& data)
{
    return data.size() >= 2 && static_cast<unsigned char>(data.at(0)) == 0xFF
        && static_cast<unsigned char>(data.at(1)) == 0xD8;
}
