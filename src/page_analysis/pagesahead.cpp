// The pages the crawl will read next, fetched while it reads the current one.
#include "page_analysis/pagesahead.h"

#include "run/runstate.h"
#include "web/fetcher.h"
#include "web/transferpool.h"

PagesAhead::PagesAhead(RunState& state)
    : m_connections(runConnections(state))
    , m_state(state)
{
    m_refill.setSingleShot(true);
    m_refill.setInterval(0);
    QObject::connect(&m_refill, &QTimer::timeout, [this] {
        if (!m_state.blnCancel)
            fill();
    });
}

PagesAhead::~PagesAhead()
{
    m_ahead.clear();
    m_refill.stop();
}

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
    const qsizetype most = qMax<qsizetype>(1, maxAhead - m_state.crawlImageConnections);
    // Pages fetched and not yet read hold memory, not connections: only the budget bounds them.
    qsizetype running = unfinishedFetches(m_ahead);
    for (qsizetype i = 0; i < m_candidates.size() && running < most
         && qsizetype(m_ahead.size()) < mostHeld && heldBodyBytes(m_ahead) < aheadBudget;
         ++i) {
        const QString& link = m_candidates.at(i);
        if (m_listed->contains(link) || m_ahead.count(link))
            continue;
        std::unique_ptr<PooledFetch> fetch = startFetch(m_state, link, pageBodyLimit);
        if (!fetch)
            continue;
        fetch->setGate(
            [this](qint64 more) { return heldBodyBytes(m_ahead) + more <= aheadBudget; });
        fetch->setOnFinished([this] { m_refill.start(); });
        m_ahead.emplace(link, std::move(fetch));
        ++running;
    }
}

FetchResult PagesAhead::read(RunHost& host, const QString& page, QByteArray& data)
{
    const auto found = m_ahead.find(page);
    if (found == m_ahead.end())
        return Get_UrlData(host, page, data);
    const std::unique_ptr<PooledFetch> fetch = std::move(found->second);
    m_ahead.erase(found);
    fetch->releaseGate();
    fetch->setOnFinished({});
    for (const auto& [later, waiting] : m_ahead)
        waiting->resume();
    return awaitFetchResult(host, page, *fetch, data);
}

void PagesAhead::forget(const QString& page) { m_ahead.erase(page); }
