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

// Every fetch ahead of a run, pages and images together. The bodies held in memory (pages, and
// images while no folder is there for them) stay within budget bytes; the images in temporary
// files within fileBudget(): that bounds the disk a Cancel throws away, and the room that bodies
// ahead take from the entry whose turn it is on a nearly full disk. The pool keeps one connection
// of each server for whatever is read at its turn, unless the run lends it to them
// (TransferPool::lendReserve). admit() is called on the transfer threads, everything else on the
// window's thread.
class AheadShare
{
public:
    static constexpr qint64 budget = 32LL * 1024 * 1024;
    // Files ahead let a crawl keep the transfers busy while it reads its pages.
    static constexpr qint64 mostFileBytes = 256LL * 1024 * 1024;
    static constexpr qsizetype connectionsAhead = TransferPool::hostConnections - 1;
    // The fetches one owner may have unfinished at a server. Beyond those on a connection, enough
    // wait in the pool that a connection goes to the next body the moment its last one ends,
    // without a word from the window's thread, even while that thread is busy for several
    // milliseconds (painting, writing the list, reading a page of the crawl). With half as many
    // the lanes still ran dry now and then on a fast network; a waiting fetch costs no connection.
    static constexpr qsizetype unfinishedAtServer = 16 * connectionsAhead;
    // No fetch ahead into a file starts while the files ahead hold their budget less this (or
    // less half the budget, when that is smaller): the room left for the bodies under way.
    // Files on disk cost no memory; stopping at half of 256 MB left the connections idle while
    // the window's thread caught up.
    static constexpr qint64 fileHeadroom = 32LL * 1024 * 1024;

    // The place where a fetch ahead is kept, known before the fetch starts, so that its first
    // bytes already count.
    using Slot = std::unique_ptr<PooledFetch>;

    // Counts the fetch kept at slot, started ahead by owner to wireUrl, until it leaves; onDisk:
    // its body goes into a file.
    void join(const Slot* fetch, const void* owner, const QByteArray& wireUrl, bool onDisk);
    // The fetch at slot has ended; its body stays counted until it leaves or is given back.
    void finished(const Slot* fetch);
    void leave(const Slot* fetch);
    // Gives back what fetch claimed: its body is gone.
    void giveBack(const Slot* fetch);
    // Whether more bytes for fetch fit in its budget beside those claimed; they are then claimed
    // and the peak is kept. A fetch that has left is no longer counted.
    bool admit(const Slot* fetch, qint64 more);

    // The files ahead of a run hold at most a quarter of the room its disk had when it started,
    // and never more than the limit (mostFileBytes unless a test lowers it).
    void setDiskRoom(qint64 bytes);
    void setFileLimit(qint64 bytes);
    qint64 fileBudget() const;

    // The most the fetches ahead have held at once since the share was made: in memory, in files.
    qint64 peakClaimedBytes() const;
    qint64 peakFileBytes() const;
    // The bytes held or allowed to the fetches ahead, in files or in memory.
    qint64 claimedBytes(bool onDisk) const;
    // owner's unfinished fetches ahead to the server of wireUrl.
    qsizetype unfinishedAt(const QByteArray& wireUrl, const void* owner) const;
    // The unfinished fetches ahead of owner, at every server.
    qsizetype unfinishedOf(const void* owner) const;

private:
    struct Entry
    {
        const void* owner;
        QByteArray server;
        qint64 claimed;
        bool onDisk;
        bool unfinished;
    };

    Entry* entryOf(const Slot* fetch);
    void release(Entry& entry);
    void end(Entry& entry);
    qint64 fileBudgetLocked() const;

    mutable std::mutex m_mutex;
    std::map<const Slot*, Entry> m_fetches;
    // The unfinished fetches, counted as they start and end, so that a run holding thousands of
    // bodies ahead does not walk them all for every fetch it starts.
    std::map<std::pair<QByteArray, const void*>, qsizetype> m_unfinished; // (server, owner)
    std::map<const void*, qsizetype> m_unfinishedOf;
    qint64 m_claimed[2] {}; // [onDisk]
    qint64 m_peak[2] {};
    qint64 m_fileLimit = mostFileBytes;
    qint64 m_diskRoom = -1; // -1: not known
};

// The share of the run, made on first use.
std::shared_ptr<AheadShare> runAheadShare(RunState& state);

template <typename Key> class FetchesAhead
{
public:
    // Whenever a fetch ends, refill is called from the event loop (never inside the pool's own
    // work), so that its connection goes to the next fetch at once; never after Cancel. state
    // must outlive the object. urgent: these fetches wait for a connection before the others.
    FetchesAhead(RunState& state, std::function<void()> refill, bool urgent = false)
        : m_urgent(urgent)
        , m_connections(runConnections(state))
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

    // True when a fetch of url may start now: the share holds less than half the memory budget,
    // or less than the file budget short of its headroom (so that those under way seldom run out
    // of it), and fewer than mostAtServer of these fetches are unfinished at its server.
    bool hasRoomFor(const QString& url, qsizetype mostAtServer, bool onDisk = false) const
    {
        const qint64 room = onDisk ? m_share->fileBudget() : AheadShare::budget;
        const qint64 keptFree = onDisk ? qMin(room / 2, AheadShare::fileHeadroom) : room / 2;
        if (m_share->claimedBytes(onDisk) >= room - keptFree)
            return false;
        return m_share->unfinishedAt(wireAddress(url), this) < mostAtServer;
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
        m_share->join(slot, this, wireAddress(url), bool(sink));
        *slot = startFetch(
            m_state, url, maxBytes, std::move(sink),
            [share = m_share.get(), slot](qint64 more) { return share->admit(slot, more); }, true,
            m_urgent);
        if (!*slot) {
            m_share->leave(slot);
            m_fetches.erase(place);
            return false;
        }
        PooledFetch* fetch = slot->get();
        // Ended at once (a closed pool): nothing will call back.
        if (fetch->isFinished())
            m_share->finished(slot);
        fetch->setOnFinished([this, fetch, slot] {
            m_share->finished(slot);
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
    // The fetch started for key, kept here still; none when there is none.
    const PooledFetch* find(const Key& key) const
    {
        const auto found = m_fetches.find(key);
        return found == m_fetches.end() ? nullptr : found->second.get();
    }
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
    qsizetype unfinished() const { return m_share->unfinishedOf(this); }

private:
    const bool m_urgent;
    // Declared first, so that the pool outlives every fetch below.
    const std::shared_ptr<ConnectionCache> m_connections;
    const std::shared_ptr<AheadShare> m_share;
    RunState& m_state;
    const std::function<void()> m_refill;
    QTimer m_refillDue;
    std::map<Key, std::unique_ptr<PooledFetch>> m_fetches;
};
