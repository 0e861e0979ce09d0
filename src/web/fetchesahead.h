// Fetches started before their turn, kept by key until their turn comes: what the crawl's pages
// ahead and the download loop's images ahead have in common, and the one budget they share.
#pragma once

#include "run/runstate.h"
#include "web/fetcher.h"
#include "web/transferpool.h"

#include <QString>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

// Every fetch ahead of a run, pages and images together: they hold at most budget bytes, and
// leave one connection of each server free, so that whatever is read at its turn never waits
// behind them.
class AheadShare
{
public:
    static constexpr qint64 budget = 32LL * 1024 * 1024;
    static constexpr qsizetype connectionsAhead = TransferPool::hostConnections - 1;

    // Counts fetch, started ahead by owner, until it leaves.
    void join(const PooledFetch* fetch, const void* owner) { m_fetches.emplace(fetch, owner); }
    void leave(const PooledFetch* fetch) { m_fetches.erase(fetch); }
    // Whether more bytes fit in the budget beside those claimed; the peak is kept.
    bool admit(qint64 more)
    {
        const qint64 claimed = claimedBytes() + more;
        if (claimed > budget)
            return false;
        m_peakClaimed = qMax(m_peakClaimed, claimed);
        return true;
    }
    // The most the fetches ahead have claimed at once since the share was made.
    qint64 peakClaimedBytes() const { return m_peakClaimed; }
    // The bytes held or allowed to the fetches ahead.
    qint64 claimedBytes() const
    {
        qint64 claimed = 0;
        for (const auto& [fetch, owner] : m_fetches)
            claimed += fetch->claimedBytes();
        return claimed;
    }
    // The unfinished fetches ahead to the server of wireUrl: all of them, or owner's.
    qsizetype unfinishedAt(const QByteArray& wireUrl, const void* owner = nullptr) const
    {
        const QByteArrayView server = serverOf(wireUrl);
        return std::count_if(m_fetches.begin(), m_fetches.end(), [&](const auto& entry) {
            return (!owner || entry.second == owner) && !entry.first->isFinished()
                && serverOf(entry.first->wireUrl()) == server;
        });
    }

private:
    // The scheme and authority: what libcurl counts connections by.
    static QByteArrayView serverOf(const QByteArray& wireUrl)
    {
        const qsizetype start = wireUrl.indexOf("://");
        const qsizetype end = start < 0 ? -1 : wireUrl.indexOf('/', start + 3);
        return QByteArrayView(wireUrl).first(end < 0 ? wireUrl.size() : end);
    }

    std::map<const PooledFetch*, const void*> m_fetches;
    qint64 m_peakClaimed = 0;
};

// The share of the run, made on first use.
std::shared_ptr<AheadShare> runAheadShare(RunState& state);

template <typename Key> class FetchesAhead
{
public:
    // Whenever a fetch ends, refill is called from the event loop (never inside the pool's own
    // work), so that its connection goes to the next fetch at once; never after Cancel. state
    // must outlive the object.
    FetchesAhead(RunState& state, std::function<void()> refill)
        : m_connections(runConnections(state))
        , m_share(runAheadShare(state))
        , m_state(state)
        , m_refill(std::move(refill))
    {
        m_refillDue.setSingleShot(true);
        m_refillDue.setInterval(0);
        QObject::connect(&m_refillDue, &QTimer::timeout, [this] {
            // Cancel and closing the window end the run in the yield that sees them.
            if (!m_state.blnCancel)
                m_refill();
        });
    }
    ~FetchesAhead() { clear(); }
    FetchesAhead(const FetchesAhead&) = delete;
    FetchesAhead& operator=(const FetchesAhead&) = delete;

    // True when a fetch of url may start now: the share holds less than half its budget (so
    // that those under way seldom run out of it), and fewer than mostAtServer of these fetches
    // and fewer than AheadShare::connectionsAhead of all fetches ahead are unfinished at its
    // server.
    bool hasRoomFor(const QString& url, qsizetype mostAtServer) const
    {
        if (m_share->claimedBytes() >= AheadShare::budget / 2)
            return false;
        const QByteArray wire = wireAddress(url);
        return m_share->unfinishedAt(wire) < AheadShare::connectionsAhead
            && m_share->unfinishedAt(wire, this) < mostAtServer;
    }

    // Starts fetching url for key; false when there is no fetch to start (no root). A fetch that
    // would pass the share's budget ends there; its key is then fetched only at its turn.
    bool start(const Key& key, const QString& url, qint64 maxBytes)
    {
        std::unique_ptr<PooledFetch> fetch = startFetch(m_state, url, maxBytes);
        if (!fetch)
            return false;
        fetch->setGate([share = m_share.get()](qint64 more) { return share->admit(more); });
        fetch->setOnFinished([this, ended = fetch.get()] {
            if (ended->refusedByGate())
                ended->takeBody(); // its memory goes back to the budget at once
            m_refillDue.start();
        });
        m_share->join(fetch.get(), this);
        m_fetches.emplace(key, std::move(fetch));
        return true;
    }

    // The fetch started for key, now free of the budget; none when there is none, or when the
    // budget ended it.
    std::unique_ptr<PooledFetch> take(const Key& key)
    {
        const auto found = m_fetches.find(key);
        if (found == m_fetches.end())
            return nullptr;
        std::unique_ptr<PooledFetch> fetch = std::move(found->second);
        m_fetches.erase(found);
        m_share->leave(fetch.get());
        if (fetch->refusedByGate())
            return nullptr;
        fetch->releaseGate();
        fetch->setOnFinished({});
        return fetch;
    }

    bool contains(const Key& key) const { return m_fetches.count(key) != 0; }
    // Ends the fetch for key, if any.
    void erase(const Key& key) { take(key); }
    // Ends every fetch; no refill follows.
    void clear()
    {
        for (const auto& [key, fetch] : m_fetches)
            m_share->leave(fetch.get());
        m_fetches.clear();
        m_refillDue.stop();
    }

    qsizetype size() const { return qsizetype(m_fetches.size()); }
    qsizetype unfinished() const
    {
        return std::count_if(m_fetches.begin(), m_fetches.end(),
            [](const auto& entry) { return !entry.second->isFinished(); });
    }

private:
    // Declared first, so that the pool outlives every fetch below.
    const std::shared_ptr<ConnectionCache> m_connections;
    const std::shared_ptr<AheadShare> m_share;
    RunState& m_state;
    const std::function<void()> m_refill;
    QTimer m_refillDue;
    std::map<Key, std::unique_ptr<PooledFetch>> m_fetches;
};
