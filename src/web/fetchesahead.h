// Fetches started before their turn, kept by key until their turn comes: what the crawl's pages
// ahead and the download loop's images ahead have in common.
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

template <typename Key> class FetchesAhead
{
public:
    // Bodies fetched ahead hold at most budget bytes together; a fetch that would pass it waits,
    // paused. Whenever a fetch ends, refill is called from the event loop (never inside the pool's
    // own work), so that its connection goes to the next fetch at once; never after Cancel.
    // state must outlive the object.
    FetchesAhead(RunState& state, qint64 budget, std::function<void()> refill)
        : m_connections(runConnections(state))
        , m_state(state)
        , m_budget(budget)
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

    // Starts fetching url for key; false when there is no fetch to start (no root).
    bool start(const Key& key, const QString& url, qint64 maxBytes)
    {
        std::unique_ptr<PooledFetch> fetch = startFetch(m_state, url, maxBytes);
        if (!fetch)
            return false;
        fetch->setGate([this](qint64 more) { return heldBytes() + more <= m_budget; });
        fetch->setOnFinished([this] { m_refillDue.start(); });
        m_fetches.emplace(key, std::move(fetch));
        return true;
    }

    // The fetch started for key, now free of the budget; none when there is none.
    std::unique_ptr<PooledFetch> take(const Key& key)
    {
        const auto found = m_fetches.find(key);
        if (found == m_fetches.end())
            return nullptr;
        std::unique_ptr<PooledFetch> fetch = std::move(found->second);
        m_fetches.erase(found);
        fetch->releaseGate();
        fetch->setOnFinished({});
        // Its bytes no longer count against the others.
        for (const auto& [later, waiting] : m_fetches)
            waiting->resume();
        return fetch;
    }

    bool contains(const Key& key) const { return m_fetches.count(key) != 0; }
    // Ends the fetch for key, if any.
    void erase(const Key& key) { m_fetches.erase(key); }
    // Ends the fetches that have not finished; the bodies already fetched stay.
    void eraseUnfinished()
    {
        std::erase_if(m_fetches, [](const auto& entry) { return !entry.second->isFinished(); });
    }
    // Ends every fetch; no refill follows.
    void clear()
    {
        m_fetches.clear();
        m_refillDue.stop();
    }

    qsizetype size() const { return qsizetype(m_fetches.size()); }
    qsizetype unfinished() const
    {
        return std::count_if(m_fetches.begin(), m_fetches.end(),
            [](const auto& entry) { return !entry.second->isFinished(); });
    }
    qint64 heldBytes() const
    {
        qint64 held = 0;
        for (const auto& [key, fetch] : m_fetches)
            held += fetch->body().size();
        return held;
    }

private:
    // Declared first, so that the pool outlives every fetch below.
    const std::shared_ptr<ConnectionCache> m_connections;
    RunState& m_state;
    const qint64 m_budget;
    const std::function<void()> m_refill;
    QTimer m_refillDue;
    std::map<Key, std::unique_ptr<PooledFetch>> m_fetches;
};
