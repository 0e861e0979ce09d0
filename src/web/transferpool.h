// The window's one libcurl multi handle, moved by the Qt event loop through libcurl's socket
// interface, so that transfers progress inside any event loop (a message box's included) and
// nothing polls while they wait.
#pragma once

#include "web/curlhandles.h"
#include "web/fetchhandle.h"
#include "web/transfer.h"

#include <QElapsedTimer>
#include <QList>
#include <QTimer>

#include <map>
#include <memory>

class QSocketNotifier;
class TransferPool;

// One address fetched in the pool under the program's connect policy: a server that cannot be
// reached is tried every 250 ms for 5 s, then once more on a fresh connection after 1.5 s.
// Closing it (or destroying it) ends it at once: its connection is dropped, no request follows.
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
    // A request is under way (false while the fetch waits for its next attempt, and once ended).
    bool isAttempting() const { return m_transfer.isOpen(); }

    // What the finished fetch amounts to: Cancelled after close(), else the transfer's outcome.
    FetchOutcome outcome() const { return m_outcome; }
    const QByteArray& body() const { return m_transfer.body(); }
    // The last attempt, its handle released: where it ended and what failed.
    const Transfer& lastAttempt() const { return m_transfer; }
    QByteArray takeBody() { return m_transfer.takeBody(); }

    // See Transfer::setGate. Released, the fetch holds whatever arrives.
    void setGate(std::function<bool(qint64)> gate);
    void releaseGate() { setGate({}); }
    bool refusedByGate() const { return m_transfer.refusedByGate(); }
    qint64 claimedBytes() const { return m_transfer.claimedBytes(); }

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
    Transfer m_transfer;
    std::function<bool(qint64)> m_gate;
    std::function<void()> m_onFinished;
    FetchHandle** m_requestSlot = nullptr;
    FetchOutcome m_outcome = FetchOutcome::NoConnection;
    bool m_finished = false;
    bool m_freshPhase = false;
    qint64 m_windowStart = 0; // pool clock, ms
    qint64 m_attemptStarted = 0;
    qint64 m_nextAttemptAt = -1; // pool clock, ms; -1: none scheduled
};

class TransferPool
{
public:
    // share: a CURLSH* for name lookups and TLS sessions, or none; it must outlive the pool.
    explicit TransferPool(void* share = nullptr);
    ~TransferPool();
    TransferPool(const TransferPool&) = delete;
    TransferPool& operator=(const TransferPool&) = delete;

    // Starts fetching request (its share is replaced by the pool's). The caller owns the fetch;
    // the pool must outlive it. While the pool is closed the fetch ends at once, Cancelled, and
    // nothing is sent.
    std::unique_ptr<PooledFetch> start(Transfer::Request request);
    // Ends every fetch of the pool at once, each with Cancelled.
    void abortAll();
    // Closed, the pool starts no request at all (a new fetch or another attempt of one under way)
    // until it is opened again: Cancel and closing the window close it before anything else.
    void setOpen(bool open) { m_open = open; }
    bool isOpen() const { return m_open; }
    // The requests started since the pool was made, every attempt counted.
    qint64 startedRequests() const { return m_startedRequests; }

    // The connections libcurl opens to one server at most.
    static constexpr long hostConnections = 6;

private:
    friend class PooledFetch;
    struct Watch;

    static int onSocket(CURL* easy, curl_socket_t socket, int what, void* self, void* data);
    static int onTimer(CURLM* multi, long timeoutMs, void* self);
    void attempt(PooledFetch& fetch);
    void detach(PooledFetch& fetch);
    void forget(PooledFetch& fetch);
    void act(curl_socket_t socket, int events);
    void collectEnded();
    void afterAttempt(PooledFetch& fetch);
    void timeout();
    void arm();

    CurlMulti m_multi;
    void* m_share;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_curlDueAt = -1; // pool clock, ms; -1: libcurl waits for nothing
    QList<PooledFetch*> m_fetches;
    bool m_open = true;
    qint64 m_startedRequests = 0;
    std::map<curl_socket_t, std::unique_ptr<Watch>> m_watches;
};
