// The window's transfers, run on transfer threads of their own (lanes, each with its libcurl multi
// handle), so that the system calls of every transfer and the writes of bodies streamed into
// files leave the window's thread, and spread over the cores. The window's thread starts, closes
// and waits for fetches; it is told of each attempt that ended by a queued call, so that any event
// loop it runs (a message box's included) wakes.
#pragma once

#include "web/curlhandles.h"
#include "web/fetchhandle.h"
#include "web/transfer.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TransferPool;
class PooledFetch;

// One attempt of a fetch. From the moment the window's thread hands it over until the transfer
// thread hands it back, only the transfer thread touches the transfer; the gate and the cancel
// flag are for both threads, owner for the window's thread alone.
struct TransferJob
{
    Transfer::Request request;
    Transfer transfer;
    std::atomic<bool> cancelled { false };
    std::mutex gateMutex;
    std::function<bool(qint64)> gate;
    PooledFetch* owner = nullptr;
    QByteArray server; // scheme, host and port of the address
    // The lane it is handed to; -1 while a fetch ahead waits for a connection (m_waitMutex).
    int lane = 0;
};

// One address fetched in the pool under the program's connect policy: a server that cannot be
// reached is tried every 250 ms for 5 s, then once more on a fresh connection after 1.5 s.
// Closing it (or destroying it) ends it at once: its connection is dropped, no request follows,
// and its sink is discarded. Used on the window's thread only.
class PooledFetch final : public FetchHandle
{
public:
    ~PooledFetch() override;
    PooledFetch(const PooledFetch&) = delete;
    PooledFetch& operator=(const PooledFetch&) = delete;

    // Ends the fetch at once with Cancelled; later calls do nothing.
    void close() override;
    bool isOpen() const override { return !m_finished; }
    bool isFinished() const { return m_finished; }
    // The address as it goes on the wire.
    const QByteArray& wireUrl() const { return m_request.url; }

    // What the finished fetch amounts to: Cancelled after close(), else the transfer's outcome.
    FetchOutcome outcome() const { return m_outcome; }
    // The body bytes received so far; the transfer thread moves it on.
    qint64 receivedBytes() const { return m_job->transfer.received(); }
    // The last attempt once the fetch has finished: where it ended, what failed, its body (with a
    // sink, its first bytes). A fetch closed while it was attempting shows an empty attempt.
    const Transfer& lastAttempt() const { return m_job->transfer; }
    QByteArray takeBody() { return m_finished ? m_job->transfer.takeBody() : QByteArray(); }
    // Where the body goes; none: memory.
    const std::shared_ptr<BodySink>& sink() const { return m_request.sink; }

    // See Transfer::setGate; it is called on the transfer thread. Released, the fetch holds
    // whatever arrives; no call of the old gate runs after setGate has returned.
    void setGate(std::function<bool(qint64)> gate);
    void releaseGate() { setGate({}); }
    bool refusedByGate() const { return m_finished && m_job->transfer.refusedByGate(); }

    // Called once, when the fetch ends (closed included). It must not start or end fetches itself:
    // it runs inside the pool's own work.
    void setOnFinished(std::function<void()> notify) { m_onFinished = std::move(notify); }

    // Keeps *slot pointing at this fetch while a request is under way and null otherwise (hUrl);
    // none: stop. The slot must outlive the binding.
    void setRequestSlot(FetchHandle** slot);

private:
    friend class TransferPool;
    PooledFetch(TransferPool& pool, const Transfer::Request& request);
    void finish(FetchOutcome outcome);

    TransferPool* m_pool;
    Transfer::Request m_request;
    std::shared_ptr<TransferJob> m_job;
    std::function<bool(qint64)> m_gate;
    std::function<void()> m_onFinished;
    FetchHandle** m_requestSlot = nullptr;
    FetchOutcome m_outcome = FetchOutcome::NoConnection;
    bool m_finished = false;
    bool m_attempting = false; // an attempt is with the transfer thread
    bool m_freshPhase = false;
    qint64 m_windowStart = 0; // pool clock, ms
    qint64 m_attemptStarted = 0;
    qint64 m_nextAttemptAt = -1; // pool clock, ms; -1: none scheduled
};

// Made, used and destroyed on the window's thread; the transfer threads are its own.
class TransferPool
{
public:
    // share: a CURLSH* for name lookups and TLS sessions, or none; it must outlive the pool, and
    // only the pool's transfer thread uses it.
    explicit TransferPool(void* share = nullptr);
    ~TransferPool();
    TransferPool(const TransferPool&) = delete;
    TransferPool& operator=(const TransferPool&) = delete;

    // Starts fetching request (its share is replaced by the pool's). The caller owns the fetch;
    // the pool must outlive it. gate: as setGate, from the first byte. While the pool is closed the
    // fetch ends at once, Cancelled, and nothing is sent.
    std::unique_ptr<PooledFetch> start(
        Transfer::Request request, std::function<bool(qint64)> gate = {});
    // Ends every fetch of the pool at once, each with Cancelled, and returns once the transfer
    // threads have dropped their connections (or after a second at most).
    void abortAll();
    // Closed, the pool starts no request at all (a new fetch or another attempt of one under way)
    // until it is opened again: Cancel and closing the window close it before anything else.
    void setOpen(bool open) { m_open = open; }
    bool isOpen() const { return m_open; }
    // The requests started since the pool was made, every attempt counted, at the moment the
    // window's thread hands it over: an attempt closed before the transfer thread took it is
    // counted and sends nothing.
    qint64 startedRequests() const { return m_startedRequests; }

    // While lent, fetches ahead (or only the urgent ones) may also take the connection kept back
    // for whatever is read at its turn. A fetch that is not ahead takes it back: no fetch ahead
    // starts on it any more, and the fetch gets it as soon as the fetch ahead on it ends. The
    // download loop lends it while the entry at its turn has been fetched ahead already, the crawl
    // to its pages ahead only (a page waits at most for another page, never for an image).
    enum class Reserve { Kept, LentToUrgent, Lent };
    void lendReserve(Reserve use);

    // The connections the pool opens to one server at most, in all its lanes together.
    static constexpr long hostConnections = 6;
    // One transfer thread is busy all through a large download on a fast network, writing as much
    // as receiving; more share the work. Three were faster than two on two cores (each waits for
    // its sockets part of the time). Each lane may open its share of a server's connections.
    // Fetches ahead take all of them but one of the last lane, which stays free for whatever is
    // read at its turn; those that find none free wait in the pool, and a lane starts the first of
    // them the moment one of its own ends.
    static constexpr int lanes = 3;
    static_assert(hostConnections % lanes == 0);

private:
    friend class PooledFetch;
    struct Command
    {
        std::shared_ptr<TransferJob> job;
        bool remove;
    };
    // One transfer thread and its multi handle.
    struct Lane
    {
        int index = 0;
        // Both threads, under mutex.
        std::mutex mutex;
        std::condition_variable handled;
        std::vector<Command> commands;
        quint64 commandsQueued = 0;
        quint64 commandsHandled = 0;
        bool stopping = false;
        // The lane's thread alone, once it runs.
        CurlMulti multi;
        std::map<TransferJob*, std::shared_ptr<TransferJob>> running;
        std::thread thread;
    };

    void attempt(PooledFetch& fetch);
    int laneForAhead(const QByteArray& server, bool urgent) const;
    int aheadRoom(int lane, bool urgent) const;
    void detach(PooledFetch& fetch);
    void forget(PooledFetch& fetch);
    void hand(std::shared_ptr<TransferJob> job, bool remove);
    void deliver();
    void afterAttempt(PooledFetch& fetch);
    void timeout();
    void arm();

    // A lane's thread.
    void run(Lane& lane);
    void handle(Lane& lane, std::vector<Command>& commands,
        std::vector<std::shared_ptr<TransferJob>>& ended);
    void begin(Lane& lane, const std::shared_ptr<TransferJob>& job,
        std::vector<std::shared_ptr<TransferJob>>& ended);
    void collectEnded(Lane& lane, std::vector<std::shared_ptr<TransferJob>>& ended);
    void leaveLane(Lane& lane, const std::shared_ptr<TransferJob>& job,
        std::vector<std::shared_ptr<TransferJob>>& ended);
    void report(std::vector<std::shared_ptr<TransferJob>>& ended);

    // The window's thread.
    void* m_share;
    // The transfer threads' news of ended attempts lands here, as a posted event: Qt deletes it
    // on the window's thread, so nothing of it is freed across threads.
    class Receiver final : public QObject
    {
    public:
        explicit Receiver(TransferPool& pool)
            : m_pool(pool)
        { }
        bool event(QEvent* event) override;

    private:
        TransferPool& m_pool;
    };
    Receiver m_receiver { *this };
    QTimer m_timer; // the next attempts of fetches that could not connect
    QElapsedTimer m_clock;
    QList<PooledFetch*> m_fetches;
    bool m_open = true;
    bool m_working = false; // every lane has its multi handle
    qint64 m_startedRequests = 0;

    // Every thread, under m_endedMutex.
    std::mutex m_endedMutex;
    std::vector<std::shared_ptr<TransferJob>> m_ended;
    bool m_deliveryPosted = false;

    // Every thread, under m_waitMutex: the fetches ahead each lane runs, by server, and those
    // waiting for a connection, in the order they were started.
    std::mutex m_waitMutex;
    std::array<std::map<QByteArray, int>, lanes> m_aheadRunning;
    std::map<QByteArray, std::deque<std::shared_ptr<TransferJob>>> m_waiting;
    Reserve m_reserve = Reserve::Kept;

    std::array<Lane, lanes> m_lanes;
};
