// The pages the crawl will read next, fetched while it reads the current one.
#include "page_analysis/pagesahead.h"

#include "run/runstate.h"
#include "web/connectioncache.h"
#include "web/fetcher.h"
#include "web/transferpool.h"

PagesAhead::PagesAhead(RunState& state)
    : m_state(state)
    , m_ahead(
          state, [this] { fill(); }, true)
{ }

void PagesAhead::fetchAhead(const QStringList& links, qsizetype from, const PageList& listed)
{
    // Links already read are passed over; a page of thousands of them must not cost a walk over
    // all of them for every page read.
    m_candidates = links.mid(from, lookedAtMost);
    m_listed = &listed;
    fill();
}

void PagesAhead::fill()
{
    const qsizetype most = m_state.crawlFetchesImages ? AheadShare::connectionsAhead
                                                      : AheadShare::unfinishedAtServer;
    for (qsizetype i = 0; i < m_candidates.size() && m_ahead.size() < mostHeld; ++i) {
        const QString& link = m_candidates.at(i);
        if (m_listed->contains(link) || m_ahead.contains(link))
            continue;
        if (!m_ahead.hasRoomFor(link, most))
            break;
        m_ahead.start(link, link, pageBodyLimit);
    }
}

FetchResult PagesAhead::read(RunHost& host, const QString& page, QByteArray& data)
{
    const std::unique_ptr<PooledFetch> fetch = m_ahead.take(page);
    if (!fetch)
        return Get_UrlData(host, page, data);
    // A page fetched ahead needs no connection of its own (TransferPool::lendReserve).
    runConnections(m_state)->pool().lendReserve(TransferPool::Reserve::LentToUrgent);
    const FetchResult result = awaitFetchResult(host, page, *fetch, data);
    // The budget may have ended it just before its turn came: it is read now, at its turn.
    if (fetch->refusedByGate() && !m_state.blnCancel)
        return Get_UrlData(host, page, data);
    return result;
}

PagesAhead::~PagesAhead()
{
    if (m_state.connections)
        m_state.connections->pool().lendReserve(TransferPool::Reserve::Kept);
}

void PagesAhead::forget(const QString& page) { m_ahead.erase(page); }
