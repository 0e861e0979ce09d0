// The look-ahead of the download loop.
#include "store/fetchahead.h"

#include "run/runstate.h"
#include "store/downloadengine.h"
#include "store/pathnames.h"
#include "web/connectioncache.h"
#include "web/fetcher.h"
#include "web/transferpool.h"

#include <algorithm>

namespace {

std::shared_ptr<ConnectionCache> connectionsOf(RunState& state)
{
    if (!state.connections)
        state.connections = std::make_shared<ConnectionCache>();
    return state.connections;
}

} // namespace

FetchAhead::FetchAhead(RunState& state, const QString& folder, const PathConventions& conventions)
    : m_connections(connectionsOf(state))
    , m_state(state)
    , m_folder(folder)
    , m_conventions(conventions)
{ }

FetchAhead::~FetchAhead() { abandon(); }

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
    const QList<DownloadItem>& list = std::as_const(m_state.udtDownload);
    while (m_next < list.size() && qsizetype(m_ahead.size()) < maxAhead
        && unfinished() < mostUnfinished && heldBytes() < aheadBudget) {
        const qsizetype index = m_next++;
        const DownloadItem& item = list.at(index);
        // An earlier entry of the same name may yet write the file this one would find there.
        const qsizetype earlier = m_lastSeen.value(item.FileName, -1);
        m_lastSeen.insert(item.FileName, index);
        if (earlier >= firstUndecided
            || fileNameRefusal(item.FileName, m_conventions) != FileNameRefusal::None
            || !Is_NoFile(m_folder + item.FileName))
            continue;
        std::unique_ptr<PooledFetch> fetch = startFetch(m_state, item.URL, imageBodyLimit);
        if (!fetch)
            continue;
        fetch->setGate([this](qint64 more) { return heldBytes() + more <= aheadBudget; });
        m_ahead.emplace(index, std::move(fetch));
    }
}

std::unique_ptr<PooledFetch> FetchAhead::take(qsizetype index)
{
    const auto found = m_ahead.find(index);
    if (found == m_ahead.end())
        return nullptr;
    std::unique_ptr<PooledFetch> fetch = std::move(found->second);
    m_ahead.erase(found);
    fetch->releaseGate();
    // Its bytes no longer count against the others.
    for (const auto& [later, waiting] : m_ahead)
        waiting->resume();
    return fetch;
}

void FetchAhead::makeRoom()
{
    std::erase_if(m_ahead, [](const auto& ahead) { return !ahead.second->isFinished(); });
}

void FetchAhead::abandon() { m_ahead.clear(); }

qsizetype FetchAhead::unfinished() const
{
    return std::count_if(m_ahead.begin(), m_ahead.end(),
        [](const auto& ahead) { return !ahead.second->isFinished(); });
}

qint64 FetchAhead::heldBytes() const
{
    qint64 held = 0;
    for (const auto& [index, fetch] : m_ahead)
        held += fetch->body().size();
    return held;
}
