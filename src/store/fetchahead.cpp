// The look-ahead of the download loop.
#include "store/fetchahead.h"

#include "run/runstate.h"
#include "store/downloadengine.h"
#include "store/pathnames.h"
#include "web/fetcher.h"
#include "web/transferpool.h"

FetchAhead::FetchAhead(RunState& state, const QString& folder, const PathConventions& conventions)
    : m_connections(runConnections(state))
    , m_state(state)
    , m_folder(folder)
    , m_conventions(conventions)
{
    m_refill.setSingleShot(true);
    m_refill.setInterval(0);
    QObject::connect(&m_refill, &QTimer::timeout, [this] {
        // Cancel and closing the window end the run in the yield that sees them.
        if (!m_state.blnCancel)
            fill(m_firstUndecided, m_mostUnfinished);
    });
}

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
    m_firstUndecided = firstUndecided;
    m_mostUnfinished = mostUnfinished;
    const QList<DownloadItem>& list = std::as_const(m_state.udtDownload);
    // Bodies already fetched hold memory, not connections: only the budget bounds them. New
    // fetches start only below half of it, so that those under way seldom have to pause.
    while (m_next < list.size() && qsizetype(m_ahead.size()) < mostHeld
        && unfinishedFetches(m_ahead) < mostUnfinished
        && heldBodyBytes(m_ahead) < aheadBudget / 2) {
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
        fetch->setGate(
            [this](qint64 more) { return heldBodyBytes(m_ahead) + more <= aheadBudget; });
        fetch->setOnFinished([this] { m_refill.start(); });
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
    fetch->setOnFinished({});
    // Its bytes no longer count against the others.
    for (const auto& [later, waiting] : m_ahead)
        waiting->resume();
    return fetch;
}

void FetchAhead::makeRoom()
{
    std::erase_if(m_ahead, [](const auto& ahead) { return !ahead.second->isFinished(); });
}

void FetchAhead::abandon()
{
    m_ahead.clear();
    // The fetches just ended asked for a refill; none may follow.
    m_refill.stop();
}
