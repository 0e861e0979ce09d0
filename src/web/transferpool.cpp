// The window's one libcurl multi handle, moved by the Qt event loop.
#include "web/transferpool.h"

#include "web/connectioncache.h" // initialiseCurlOnce

#include <QSocketNotifier>

#include <limits>
#include <utility>

namespace {

// A server gets this long to answer before the fetch starts again on a fresh connection.
constexpr qint64 connectWindowMs = 5000;
// Attempts at a server that refuses are spaced, so that it is not hammered.
constexpr qint64 retrySpacingMs = 250;
constexpr qint64 freshSessionPauseMs = 1500;
// An attempt late in the window still gets a fair chance to connect.
constexpr qint64 shortestAttemptMs = 250;
constexpr long keptConnections = 8 * TransferPool::hostConnections;

} // namespace

PooledFetch::PooledFetch(TransferPool& pool, const Transfer::Request& request)
    : m_pool(&pool)
    , m_request(request)
{ }

PooledFetch::~PooledFetch() { close(); }

void PooledFetch::close()
{
    if (m_finished)
        return;
    if (m_pool)
        m_pool->detach(*this);
    finish(FetchOutcome::Cancelled);
}

void PooledFetch::finish(FetchOutcome outcome)
{
    m_outcome = outcome;
    m_finished = true;
    m_nextAttemptAt = -1;
    if (m_pool)
        m_pool->forget(*this);
    if (m_onFinished)
        std::exchange(m_onFinished, {})();
}

void PooledFetch::setGate(std::function<bool(qint64)> gate)
{
    m_gate = gate;
    m_transfer.setGate(std::move(gate));
}

void PooledFetch::setRequestSlot(FetchHandle** slot)
{
    if (m_requestSlot && *m_requestSlot == this)
        *m_requestSlot = nullptr;
    m_requestSlot = slot;
    if (m_requestSlot && isAttempting())
        *m_requestSlot = this;
}

struct TransferPool::Watch
{
    QSocketNotifier* read;
    QSocketNotifier* write;
};

TransferPool::TransferPool(void* share)
    : m_share(share)
{
    initialiseCurlOnce();
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { timeout(); });
    m_multi.reset(curl_multi_init());
    if (!m_multi) {
        qWarning("TransferPool: curl_multi_init failed; every fetch will fail");
        return;
    }
    CURLM* multi = m_multi.get();
    bool ok = curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &TransferPool::onSocket) == CURLM_OK
        && curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, static_cast<void*>(this)) == CURLM_OK
        && curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &TransferPool::onTimer) == CURLM_OK
        && curl_multi_setopt(multi, CURLMOPT_TIMERDATA, static_cast<void*>(this)) == CURLM_OK;
    if (!ok) {
        qWarning("TransferPool: libcurl refused the socket interface; every fetch will fail");
        m_multi.reset();
        return;
    }
    // Limits, not requirements: a libcurl that knows neither still fetches correctly.
    (void)curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, hostConnections);
    // Otherwise libcurl keeps only as many idle connections as a few times the transfers under
    // way, and a crawl between two bursts of images would open them all again.
    (void)curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, keptConnections);
    (void)curl_multi_setopt(multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
}

TransferPool::~TransferPool()
{
    for (PooledFetch* fetch : QList<PooledFetch*>(m_fetches)) {
        fetch->close();
        fetch->m_pool = nullptr;
    }
    if (m_multi) {
        // Closing the kept connections must not call back into a pool that is going away.
        curl_multi_setopt(m_multi.get(), CURLMOPT_SOCKETFUNCTION, nullptr);
        curl_multi_setopt(m_multi.get(), CURLMOPT_TIMERFUNCTION, nullptr);
    }
    for (auto& [socket, watch] : m_watches) {
        delete watch->read;
        delete watch->write;
    }
    m_multi.reset();
}

std::unique_ptr<PooledFetch> TransferPool::start(Transfer::Request request)
{
    std::unique_ptr<PooledFetch> fetch(new PooledFetch(*this, request));
    m_fetches.append(fetch.get());
    fetch->m_windowStart = m_clock.elapsed();
    attempt(*fetch);
    return fetch;
}

void TransferPool::abortAll()
{
    for (PooledFetch* fetch : QList<PooledFetch*>(m_fetches))
        fetch->close();
}

void TransferPool::attempt(PooledFetch& fetch)
{
    const qint64 now = m_clock.elapsed();
    Transfer::Request request = fetch.m_request;
    request.share = m_share;
    if (fetch.m_freshPhase) {
        request.connectTimeoutMs = long(connectWindowMs);
        request.freshConnection = true;
    } else {
        const qint64 left = connectWindowMs - (now - fetch.m_windowStart);
        request.connectTimeoutMs = long(qMax(left, shortestAttemptMs));
    }
    fetch.m_attemptStarted = now;
    fetch.m_nextAttemptAt = -1;
    if (!m_open) {
        fetch.finish(FetchOutcome::Cancelled);
        return;
    }
    Transfer& transfer = fetch.m_transfer;
    if (!m_multi || !transfer.open(request)) {
        fetch.finish(FetchOutcome::NoConnection);
        return;
    }
    curl_easy_setopt(transfer.easy(), CURLOPT_PRIVATE, static_cast<void*>(&fetch));
    transfer.setGate(fetch.m_gate);
    if (curl_multi_add_handle(m_multi.get(), transfer.easy()) != CURLM_OK) {
        transfer.close();
        fetch.finish(FetchOutcome::NoConnection);
        return;
    }
    ++m_startedRequests;
    if (fetch.m_requestSlot)
        *fetch.m_requestSlot = &fetch;
}

void TransferPool::detach(PooledFetch& fetch)
{
    Transfer& transfer = fetch.m_transfer;
    if (!transfer.isOpen())
        return;
    // Taking a transfer out in the middle drops its connection: the server sees it closed.
    const CURLMcode code = curl_multi_remove_handle(m_multi.get(), transfer.easy());
    if (code != CURLM_OK)
        qWarning("TransferPool: curl_multi_remove_handle failed: %s", curl_multi_strerror(code));
    transfer.close();
    if (fetch.m_requestSlot && *fetch.m_requestSlot == &fetch)
        *fetch.m_requestSlot = nullptr;
}

void TransferPool::forget(PooledFetch& fetch)
{
    m_fetches.removeOne(&fetch);
    arm();
}

int TransferPool::onSocket(CURL*, curl_socket_t socket, int what, void* self, void*)
{
    auto& pool = *static_cast<TransferPool*>(self);
    const auto found = pool.m_watches.find(socket);
    if (what == CURL_POLL_REMOVE) {
        if (found != pool.m_watches.end()) {
            // The notifier may be the one whose signal is being handled right now.
            for (QSocketNotifier* notifier : { found->second->read, found->second->write }) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
            pool.m_watches.erase(found);
        }
        return 0;
    }
    Watch* watch = found == pool.m_watches.end() ? nullptr : found->second.get();
    if (!watch) {
        auto made = std::make_unique<Watch>();
        made->read = new QSocketNotifier(socket, QSocketNotifier::Read);
        made->write = new QSocketNotifier(socket, QSocketNotifier::Write);
        QObject::connect(made->read, &QSocketNotifier::activated, made->read,
            [&pool, socket] { pool.act(socket, CURL_CSELECT_IN); });
        QObject::connect(made->write, &QSocketNotifier::activated, made->write,
            [&pool, socket] { pool.act(socket, CURL_CSELECT_OUT); });
        watch = made.get();
        pool.m_watches[socket] = std::move(made);
    }
    watch->read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    watch->write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    return 0;
}

int TransferPool::onTimer(CURLM*, long timeoutMs, void* self)
{
    auto& pool = *static_cast<TransferPool*>(self);
    pool.m_curlDueAt = timeoutMs < 0 ? -1 : pool.m_clock.elapsed() + timeoutMs;
    pool.arm();
    return 0;
}

void TransferPool::act(curl_socket_t socket, int events)
{
    int running = 0;
    const CURLMcode code = curl_multi_socket_action(m_multi.get(), socket, events, &running);
    if (code != CURLM_OK)
        qWarning("TransferPool: curl_multi_socket_action failed: %s", curl_multi_strerror(code));
    collectEnded();
}

void TransferPool::collectEnded()
{
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi.get(), &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        const CURLcode result = message->data.result;
        char* data = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &data);
        auto* fetch = reinterpret_cast<PooledFetch*>(data);
        if (!fetch || !m_fetches.contains(fetch))
            continue;
        fetch->m_transfer.finish(result);
        detach(*fetch);
        afterAttempt(*fetch);
    }
    // libcurl tells of a changed deadline only when it moves; asking keeps the timer exact.
    long timeoutMs = -1;
    if (m_multi && curl_multi_timeout(m_multi.get(), &timeoutMs) == CURLM_OK)
        m_curlDueAt = timeoutMs < 0 ? -1 : m_clock.elapsed() + timeoutMs;
    arm();
}

void TransferPool::afterAttempt(PooledFetch& fetch)
{
    const Transfer& transfer = fetch.m_transfer;
    if (!transfer.mayRetry())
        return fetch.finish(transfer.outcome());
    if (fetch.m_freshPhase)
        return fetch.finish(FetchOutcome::NoConnection);
    // The window is over once it has passed, or when the next attempt would start after it.
    const qint64 now = m_clock.elapsed();
    const qint64 next = fetch.m_attemptStarted + retrySpacingMs;
    if (now - fetch.m_windowStart >= connectWindowMs
        || next - fetch.m_windowStart > connectWindowMs) {
        fetch.m_freshPhase = true;
        fetch.m_nextAttemptAt = now + freshSessionPauseMs;
    } else {
        fetch.m_nextAttemptAt = next;
    }
    arm();
}

void TransferPool::timeout()
{
    if (m_curlDueAt >= 0 && m_curlDueAt <= m_clock.elapsed()) {
        m_curlDueAt = -1;
        act(CURL_SOCKET_TIMEOUT, 0);
    }
    const qint64 now = m_clock.elapsed();
    for (PooledFetch* fetch : QList<PooledFetch*>(m_fetches)) {
        if (m_fetches.contains(fetch) && fetch->m_nextAttemptAt >= 0
            && fetch->m_nextAttemptAt <= now)
            attempt(*fetch);
    }
    arm();
}

void TransferPool::arm()
{
    qint64 due = m_curlDueAt;
    for (const PooledFetch* fetch : std::as_const(m_fetches)) {
        if (fetch->m_nextAttemptAt >= 0 && (due < 0 || fetch->m_nextAttemptAt < due))
            due = fetch->m_nextAttemptAt;
    }
    if (due < 0) {
        m_timer.stop();
        return;
    }
    const qint64 waitMs = qMax<qint64>(0, due - m_clock.elapsed());
    m_timer.start(int(qMin<qint64>(waitMs, std::numeric_limits<int>::max())));
}
