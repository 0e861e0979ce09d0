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
#include <mutex>
#include <utility>

// Every fetch ahead of a run, pages and images together: the bodies they hold, pages in memory and
// images in temporary files of the run's folder, stay within budget bytes, and they leave one
// connection of each server free, so that whatever is read at its turn never waits behind them.
// The budget counts the files too: it bounds the disk a Cancel throws away, and the room that
// bodies ahead take from the entry whose turn it is on a nearly full disk. admit() is called on
// the transfer thread, everything else on the window's thread.
class AheadShare
{
public:
    static constexpr qint64 budget = 32LL * 1024 * 1024;
    static constexpr qsizetype connectionsAhead = TransferPool::hostConnections - 1;

    // The place where a fetch ahead is kept, known before the fetch starts, so that its first
    // bytes already count.
    using Slot = std::unique_ptr<PooledFetch>;

    // Counts the fetch kept at slot, started ahead by owner, until it leaves.
    void join(const Slot* fetch, const void* owner)
    {
        std::lock_guard lock(m_mutex);
        m_fetches.emplace(fetch, Entry { owner, 0 });
    }
    void leave(const Slot* fetch)
    {
        std::lock_guard lock(m_mutex);
        release(fetch);
        m_fetches.erase(fetch);
    }
    // Gives back what fetch claimed: its body is gone.
    void giveBack(const Slot* fetch)
    {
        std::lock_guard lock(m_mutex);
        release(fetch);
    }
    // Whether more bytes for fetch fit in the budget beside those claimed; they are then claimed
    // and the peak is kept. A fetch that has left is no longer counted.
    bool admit(const Slot* fetch, qint64 more)
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_fetches.find(fetch);
        if (found == m_fetches.end())
            return true;
        if (m_claimed + more > budget)
            return false;
        found->second.claimed += more;
        m_claimed += more;
        m_peakClaimed = qMax(m_peakClaimed, m_claimed);
        return true;
    }
    // The most the fetches ahead have claimed at once since the share was made.
    qint64 peakClaimedBytes() const
    {
        std::lock_guard lock(m_mutex);
        return m_peakClaimed;
    }
    // The bytes held or allowed to the fetches ahead.
    qint64 claimedBytes() const
    {
        std::lock_guard lock(m_mutex);
        return m_claimed;
    }
    // The unfinished fetches ahead to the server of wireUrl: all of them, or owner's.
    qsizetype unfinishedAt(const QByteArray& wireUrl, const void* owner = nullptr) const
    {
        const QByteArrayView server = serverOf(wireUrl);
        std::lock_guard lock(m_mutex);
        return std::count_if(m_fetches.begin(), m_fetches.end(), [&](const auto& entry) {
            const PooledFetch* fetch = entry.first->get();
            return fetch && (!owner || entry.second.owner == owner) && !fetch->isFinished()
                && serverOf(fetch->wireUrl()) == server;
        });
    }

private:
    struct Entry
    {
        const void* owner;
        qint64 claimed;
    };

    void release(const Slot* fetch)
    {
        const auto found = m_fetches.find(fetch);
        if (found != m_fetches.end())
            m_claimed -= std::exchange(found->second.claimed, 0);
    }
    // The scheme and authority: what libcurl counts connections by.
    static QByteArrayView serverOf(const QByteArray& wireUrl)
    {
        const qsizetype start = wireUrl.indexOf("://");
        const qsizetype end = start < 0 ? -1 : wireUrl.indexOf('/', start + 3);
        return QByteArrayView(wireUrl).first(end < 0 ? wireUrl.size() : end);
    }

    mutable std::mutex m_mutex;
    std::map<const Slot*, Entry> m_fetches;
    qint64 m_claimed = 0;
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

    // Starts fetching url for key, its body into sink when one is given; false when there is no
    // fetch to start (no root). A fetch that would pass the share's budget ends there; its key is
    // then fetched only at its turn.
    bool start(
        const Key& key, const QString& url, qint64 maxBytes, std::shared_ptr<BodySink> sink = {})
    {
        const auto [place, added] = m_fetches.try_emplace(key);
        if (!added)
            return false;
        AheadShare::Slot* slot = &place->second;
        // Joined before the first byte can ask for room.
        m_share->join(slot, this);
        *slot = startFetch(m_state, url, maxBytes, std::move(sink),
            [share = m_share.get(), slot](qint64 more) { return share->admit(slot, more); });
        if (!*slot) {
            m_share->leave(slot);
            m_fetches.erase(place);
            return false;
        }
        PooledFetch* fetch = slot->get();
        fetch->setOnFinished([this, fetch, slot] {
            if (fetch->refusedByGate()) {
                // Its memory or its file goes back to the budget at once.
                fetch->takeBody();
                if (fetch->sink())
                    fetch->sink()->discard();
                m_share->giveBack(slot);
            }
            m_refillDue.start();
        });
        return true;
    }

    // The fetch started for key, now free of the budget; none when there is none, or when the
    // budget ended it.
    std::unique_ptr<PooledFetch> take(const Key& key)
    {
        const auto found = m_fetches.find(key);
        if (found == m_fetches.end())
            return nullptr;
        // Released first: the transfer thread asks the share no more for it once it has left.
        found->second->releaseGate();
        m_share->leave(&found->second);
        std::unique_ptr<PooledFetch> fetch = std::move(found->second);
        m_fetches.erase(found);
        if (fetch->refusedByGate())
            return nullptr;
        fetch->setOnFinished({});
        return fetch;
    }

    bool contains(const Key& key) const { return m_fetches.count(key) != 0; }
    // Ends the fetch for key, if any.
    void erase(const Key& key) { take(key); }
    // Ends every fetch; no refill follows.
    void clear()
    {
        for (const auto& [key, fetch] : m_fetches) {
            fetch->releaseGate();
            m_share->leave(&fetch);
        }
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
