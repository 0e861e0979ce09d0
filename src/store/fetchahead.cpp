// The look-ahead of the download loop.
#include "store/fetchahead.h"

#include "run/runstate.h"
#include "store/downloadengine.h"
#include "store/fileio.h"
#include "store/pathnames.h"
#include "store/streamedfile.h"
#include "web/fetcher.h"
#include "web/transferpool.h"

#include <QStorageInfo>

FetchAhead::FetchAhead(RunState& state, const QString& folder, const PathConventions& conventions)
    : m_state(state)
    , m_folder(folder)
    , m_conventions(conventions)
    , m_ahead(state, [this] { fill(m_firstUndecided, m_mostAtServer); })
{
    const QStringList prefixes = folderPrefixes(folder, conventions);
    for (auto prefix = prefixes.crbegin(); prefix != prefixes.crend(); ++prefix) {
        if (localEntry(*prefix) == LocalEntry::Folder) {
            m_staging = *prefix;
            break;
        }
    }
    if (m_staging.isEmpty())
        return;
    // A run killed while its bodies waited above their folder left them there.
    if (m_staging != folder)
        sweepKilledWrites(m_staging);
    runAheadShare(state)->setDiskRoom(QStorageInfo(m_staging).bytesAvailable());
}

void FetchAhead::fillAfter(qsizetype current)
{
    const QList<DownloadItem>& list = std::as_const(m_state.udtDownload);
    if (current < 0 || current >= list.size())
        return;
    qsizetype& seen = m_lastSeen[list.at(current).FileName];
    seen = qMax(seen, current);
    m_next = qMax(m_next, current + 1);
    m_streamed = true;
    fill(current, AheadShare::unfinishedAtServer);
}

void FetchAhead::fillEarly()
{
    // Cancel or closing the window may have come in the yields of the page just read.
    if (!m_state.blnCancel)
        fill(0, crawlConnections);
}

void FetchAhead::fill(qsizetype firstUndecided, qsizetype mostAtServer)
{
    m_firstUndecided = firstUndecided;
    m_mostAtServer = mostAtServer;
    const QList<DownloadItem>& list = std::as_const(m_state.udtDownload);
    const QString& into = m_streamed ? m_folder : m_staging;
    const qsizetype held = into.isEmpty() ? mostHeld : mostHeldInFiles;
    while (m_next < list.size() && m_ahead.size() < held && m_ahead.unfinished() < maxAhead) {
        const DownloadItem& item = list.at(m_next);
        // An earlier entry of the same name may yet write the file this one would find there.
        bool fetched = m_lastSeen.value(item.FileName, -1) < firstUndecided
            && fileNameRefusal(item.FileName, m_conventions) == FileNameRefusal::None;
        // An entry that waited for room was looked up on disk already; the turn looks again.
        if (fetched && m_waitingMissing != m_next)
            fetched = localEntry(m_folder + item.FileName) == LocalEntry::NoFile;
        // The entries after it wait, so that the fetches ahead keep to list order.
        if (fetched && !m_ahead.hasRoomFor(item.URL, mostAtServer, !into.isEmpty())) {
            m_waitingMissing = m_next;
            break;
        }
        m_lastSeen.insert(item.FileName, m_next);
        const qsizetype index = m_next++;
        if (fetched)
            m_ahead.start(index, item.URL, imageBodyLimit,
                into.isEmpty() ? nullptr : std::make_shared<StreamedFile>(into));
    }
}

std::unique_ptr<PooledFetch> FetchAhead::take(qsizetype index) { return m_ahead.take(index); }

void FetchAhead::abandon() { m_ahead.clear(); }
