// The look-ahead of the download loop.
#include "store/fetchahead.h"

#include "run/runstate.h"
#include "store/downloadengine.h"
#include "store/pathnames.h"
#include "web/fetcher.h"
#include "web/transferpool.h"

FetchAhead::FetchAhead(RunState& state, const QString& folder, const PathConventions& conventions)
    : m_state(state)
    , m_folder(folder)
    , m_conventions(conventions)
    , m_ahead(state, aheadBudget, [this] { fill(m_firstUndecided, m_mostUnfinished); })
{ }

void FetchAhead::fillAfter(qsizetype current)
{
    const QList<DownloadItem>& list = std::as_const(m_state.udtDownload);
    if (current < 0 || current >= list.size())
        return;
    qsizetype& seen = m_lastSeen[list.at(current).FileName];
    seen = qMax(seen, current);
    m_next = qMax(m_next, current + 1);
    fill(current, maxAhead);
}

void FetchAhead::fillEarly()
{
    // Cancel or closing the window may have come in the yields of the page just read.
    if (!m_state.blnCancel)
        fill(0, crawlConnections);
}

void FetchAhead::fill(qsizetype firstUndecided, qsizetype mostUnfinished)
{
    m_firstUndecided = firstUndecided;
    m_mostUnfinished = mostUnfinished;
    const QList<DownloadItem>& list = std::as_const(m_state.udtDownload);
    // Bodies already fetched hold memory, not connections: only the budget bounds them. New
    // fetches start only below half of it, so that those under way seldom have to pause.
    while (m_next < list.size() && m_ahead.size() < mostHeld
        && m_ahead.unfinished() < mostUnfinished && m_ahead.heldBytes() < aheadBudget / 2) {
        const qsizetype index = m_next++;
        const DownloadItem& item = list.at(index);
        // An earlier entry of the same name may yet write the file this one would find there.
        const qsizetype earlier = m_lastSeen.value(item.FileName, -1);
        m_lastSeen.insert(item.FileName, index);
        if (earlier >= firstUndecided
            || fileNameRefusal(item.FileName, m_conventions) != FileNameRefusal::None
            || !Is_NoFile(m_folder + item.FileName))
            continue;
        m_ahead.start(index, item.URL, imageBodyLimit);
    }
}

std::unique_ptr<PooledFetch> FetchAhead::take(qsizetype index) { return m_ahead.take(index); }

void FetchAhead::makeRoom() { m_ahead.eraseUnfinished(); }

void FetchAhead::abandon() { m_ahead.clear(); }
