// The pages the crawl will read next, fetched while it reads the current one.
#include "page_analysis/pagesahead.h"

#include "page_analysis/linkextraction.h"
#include "run/runstate.h"
#include "web/connectioncache.h"
#include "web/fetcher.h"
#include "web/transferpool.h"

PagesAhead::PagesAhead(RunState& state, bool modern)
    : m_state(state)
    , m_modern(modern)
    , m_ahead(
          state, [this] { fill(); }, true)
{ }

void PagesAhead::fetchAhead(QStringList next, const PageList& listed)
{
    m_candidates = std::move(next);
    m_listed = &listed;
    fill();
}

void PagesAhead::fill()
{
    const qsizetype most = m_state.crawlFetchesImages ? AheadShare::connectionsAhead
                                                      : AheadShare::unfinishedAtServer;
    qsizetype looked = 0;
    fillFrom(m_candidates, 0, looked, most);
}

bool PagesAhead::fillFrom(const QStringList& links, int depth, qsizetype& looked, qsizetype most)
{
    for (const QString& link : links) {
        // Links already read are passed over; a page of thousands of them must not cost a walk
        // over all of them whenever a fetch ends.
        if (m_ahead.size() >= mostHeld || ++looked > lookedAtMost)
            return false;
        if (m_listed->contains(link))
            continue;
        if (!m_ahead.contains(link)) {
            // The pages after it wait, so that the fetches ahead keep to the crawl's order.
            if (!m_ahead.hasRoomFor(link, most))
                return false;
            m_ahead.start(link, link, pageBodyLimit);
            continue;
        }
        // Its own links are read right after it: a crawl one page deeper at each step would
        // otherwise wait for every page in turn.
        if (depth < deepest) {
            if (const QStringList* found = linksFoundIn(link);
                found && !fillFrom(*found, depth + 1, looked, most))
                return false;
        }
    }
    return true;
}

const QStringList* PagesAhead::linksFoundIn(const QString& page)
{
    if (const auto known = m_linksFound.find(page); known != m_linksFound.end())
        return known->second ? &*known->second : nullptr;
    const PooledFetch* fetch = m_ahead.find(page);
    if (m_modern || !fetch || !fetch->isFinished())
        return nullptr;
    // Only a page that its turn will surely read as it stands: a redirect may lead above its
    // folder or to a page read already, and a page that failed may be fetched again.
    const Transfer& body = fetch->lastAttempt();
    std::optional<QStringList>& links = m_linksFound[page];
    if (fetch->outcome() == FetchOutcome::Complete && body.failureText().isEmpty()
        && (body.redirectedTo().isEmpty() || body.redirectedTo() == fetch->wireUrl())
        && body.body().size() <= scannedAheadAtMost)
        links = followedLinks(page, body.body());
    return links ? &*links : nullptr;
}

std::optional<QStringList> PagesAhead::takeLinksFound(const QString& page)
{
    auto found = m_linksFound.extract(page);
    return found ? std::move(found.mapped()) : std::nullopt;
}

FetchResult PagesAhead::read(RunHost& host, const QString& page, QByteArray& data)
{
    const std::unique_ptr<PooledFetch> fetch = m_ahead.take(page);
    if (!fetch) {
        m_linksFound.erase(page);
        return Get_UrlData(host, page, data);
    }
    // A page fetched ahead needs no connection of its own (TransferPool::lendReserve).
    runConnections(m_state)->pool().lendReserve(TransferPool::Reserve::LentToUrgent);
    const FetchResult result = awaitFetchResult(host, page, *fetch, data);
    // The budget may have ended it just before its turn came: it is read now, at its turn.
    if (fetch->refusedByGate() && !m_state.blnCancel) {
        m_linksFound.erase(page);
        return Get_UrlData(host, page, data);
    }
    return result;
}

PagesAhead::~PagesAhead()
{
    if (m_state.connections)
        m_state.connections->pool().lendReserve(TransferPool::Reserve::Kept);
}

void PagesAhead::forget(const QString& page)
{
    m_ahead.erase(page);
    m_linksFound.erase(page);
}
