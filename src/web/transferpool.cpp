// The window's transfers, run on transfer threads of their own.
//
// Each transfer thread waits in curl_multi_poll on its own multi handle and is woken by
// curl_multi_wakeup when the window's thread hands it work: it needs no event loop of its own, no
// socket notifier is ever made or destroyed across threads, and a multi handle and its easy
// handles are touched by their one thread only (the share locks itself for the lanes). The window's
// thread keeps what the user sees: which fetches exist, their outcomes, the connect-retry schedule
// and the count of requests started.
#include "web/transferpool.h"

#include "web/connectioncache.h" // initialiseCurlOnce

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <chrono>
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
constexpr long laneHostConnections = TransferPool::hostConnections / TransferPool::lanes;

constexpr long laneKeptConnections = 8 * laneHostConnections;
// A transfer thread looks at its work at least this often, woken or not.
constexpr int longestPollMs = 1000;
// Cancel waits this long at most for the transfer threads to drop the connections.
constexpr auto longestAbortWait = std::chrono::seconds(1);

const QEvent::Type endedEvent = QEvent::Type(QEvent::registerEventType());

} // namespace

bool TransferPool::Receiver::event(QEvent* event)
{
    if (event->type() != endedEvent)
        return QObject::event(event);
    m_pool.deliver();
    return true;
}

PooledFetch::PooledFetch(TransferPool& pool, const Transfer::Request& request)
    : m_pool(&pool)
    , m_request(request)
    , m_job(std::make_shared<TransferJob>())
{ }

PooledFetch::~PooledFetch()
{
    close();
    // A body that nobody took is not kept, whether it ended or not.
    if (m_request.sink)
        m_request.sink->discard();
}

void PooledFetch::close()
{
    if (m_finished)
        return;
    if (m_pool)
        m_pool->detach(*this);
    // No temporary file outlives a Cancel: the sink refuses every later write.
    if (m_request.sink)
        m_request.sink->discard();
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
    std::lock_guard lock(m_job->gateMutex);
    m_job->gate = std::move(gate);
}

void PooledFetch::setRequestSlot(FetchHandle** slot)
{
    if (m_requestSlot && *m_requestSlot == this)
        *m_requestSlot = nullptr;
    m_requestSlot = slot;
    if (m_requestSlot && m_attempting)
        *m_requestSlot = this;
}

TransferPool::TransferPool(void* share)
    : m_share(share)
{
    initialiseCurlOnce();
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { timeout(); });
    m_working = true;
    for (Lane& lane : m_lanes) {
        lane.index = int(&lane - m_lanes.data());
        lane.multi.reset(curl_multi_init());
        if (!lane.multi) {
            qWarning("TransferPool: curl_multi_init failed; every fetch will fail");
            m_working = false;
            continue;
        }
        CURLM* multi = lane.multi.get();
        // Limits, not requirements: a libcurl that knows neither still fetches correctly.
        (void)curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, laneHostConnections);
        // Otherwise libcurl keeps only as many idle connections as a few times the transfers
        // under way, and a crawl between two bursts of images would open them all again.
        (void)curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, laneKeptConnections);
        (void)curl_multi_setopt(multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
    }
    if (!m_working)
        return;
    for (Lane& lane : m_lanes)
        lane.thread = std::thread([this, &lane] { run(lane); });
}

TransferPool::~TransferPool()
{
    for (PooledFetch* fetch : QList<PooledFetch*>(m_fetches)) {
        fetch->close();
        fetch->m_pool = nullptr;
    }
    for (Lane& lane : m_lanes) {
        if (!lane.thread.joinable())
            continue;
        {
            std::lock_guard lock(lane.mutex);
            lane.stopping = true;
        }
        curl_multi_wakeup(lane.multi.get());
        lane.thread.join();
    }
    for (Lane& lane : m_lanes)
        lane.multi.reset();
}

std::unique_ptr<PooledFetch> TransferPool::start(
    Transfer::Request request, std::function<bool(qint64)> gate)
{
    std::unique_ptr<PooledFetch> fetch(new PooledFetch(*this, request));
    fetch->m_gate = std::move(gate);
    m_fetches.append(fetch.get());
    fetch->m_windowStart = m_clock.elapsed();
    attempt(*fetch);
    return fetch;
}

void TransferPool::abortAll()
{
    for (PooledFetch* fetch : QList<PooledFetch*>(m_fetches))
        fetch->close();
    const auto deadline = std::chrono::steady_clock::now() + longestAbortWait;
    for (Lane& lane : m_lanes) {
        std::unique_lock lock(lane.mutex);
        const quint64 queued = lane.commandsQueued;
        lane.handled.wait_until(lock, deadline, [&] { return lane.commandsHandled >= queued; });
    }
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
    if (!m_working) {
        fetch.finish(FetchOutcome::NoConnection);
        return;
    }
    auto job = std::make_shared<TransferJob>();
    job->request = std::move(request);
    job->owner = &fetch;
    job->server = serverOfWire(job->request.url);
    job->gate = fetch.m_gate;
    job->transfer.setGate([raw = job.get()](qint64 more) {
        std::lock_guard lock(raw->gateMutex);
        return !raw->gate || raw->gate(more);
    });
    fetch.m_job = job;
    fetch.m_attempting = true;
    ++m_startedRequests;
    bool waits = false;
    {
        std::lock_guard lock(m_waitMutex);
        if (job->request.ahead) {
            job->lane = laneForAhead(job->server, job->request.urgent);
            if (job->lane < 0) {
                auto& waiting = m_waiting[job->server];
                const auto place = !job->request.urgent
                    ? waiting.end()
                    : std::find_if(waiting.begin(), waiting.end(),
                        [](const auto& other) { return !other->request.urgent; });
                waiting.insert(place, job);
                waits = true;
            } else {
                ++m_aheadRunning[size_t(job->lane)][job->server];
            }
        } else {
            job->lane = lanes - 1;
            m_reserve = Reserve::Kept;
        }
    }
    if (!waits)
        hand(std::move(job), false);
    if (fetch.m_requestSlot)
        *fetch.m_requestSlot = &fetch;
}

int TransferPool::laneForAhead(const QByteArray& server, bool urgent) const
{
    // The lane with the most connections free for it; ties go to the first, so that one fetch
    // after another keeps reusing one connection.
    int best = -1;
    int bestFree = 0;
    for (int lane = 0; lane < lanes; ++lane) {
        const auto running = m_aheadRunning[size_t(lane)].find(server);
        const int free = aheadRoom(lane, urgent)
            - (running == m_aheadRunning[size_t(lane)].end() ? 0 : running->second);
        if (free > bestFree) {
            best = lane;
            bestFree = free;
        }
    }
    return best;
}

int TransferPool::aheadRoom(int lane, bool urgent) const
{
    const bool lent = m_reserve == Reserve::Lent || (m_reserve == Reserve::LentToUrgent && urgent);
    return int(laneHostConnections) - (lane == lanes - 1 && !lent ? 1 : 0);
}

void TransferPool::lendReserve(Reserve use)
{
    std::vector<std::shared_ptr<TransferJob>> started;
    {
        std::lock_guard lock(m_waitMutex);
        m_reserve = use;
        // Whatever waits may go on the connection now lent.
        for (auto waiting = m_waiting.begin(); waiting != m_waiting.end();) {
            while (!waiting->second.empty()) {
                std::shared_ptr<TransferJob>& first = waiting->second.front();
                const int lane = laneForAhead(waiting->first, first->request.urgent);
                if (lane < 0)
                    break;
                first->lane = lane;
                ++m_aheadRunning[size_t(lane)][first->server];
                started.push_back(std::move(first));
                waiting->second.pop_front();
            }
            waiting = waiting->second.empty() ? m_waiting.erase(waiting) : std::next(waiting);
        }
    }
    for (std::shared_ptr<TransferJob>& job : started)
        hand(std::move(job), false);
}

void TransferPool::detach(PooledFetch& fetch)
{
    if (!fetch.m_attempting)
        return;
    fetch.m_attempting = false;
    std::shared_ptr<TransferJob> job = std::exchange(fetch.m_job, std::make_shared<TransferJob>());
    job->owner = nullptr;
    // Set before the handle is removed, so that a write under way stops at its next piece.
    job->cancelled = true;
    {
        std::lock_guard lock(job->gateMutex);
        job->gate = {};
    }
    if (job->request.ahead) {
        std::lock_guard lock(m_waitMutex);
        if (job->lane < 0) {
            // Still waiting: no lane has seen it.
            const auto waiting = m_waiting.find(job->server);
            if (waiting != m_waiting.end()) {
                std::erase(waiting->second, job);
                if (waiting->second.empty())
                    m_waiting.erase(waiting);
            }
            job.reset();
        }
    }
    // Taking a transfer out in the middle drops its connection: the server sees it closed.
    if (job)
        hand(job, true);
    if (fetch.m_requestSlot && *fetch.m_requestSlot == &fetch)
        *fetch.m_requestSlot = nullptr;
}

void TransferPool::forget(PooledFetch& fetch)
{
    m_fetches.removeOne(&fetch);
    arm();
}

void TransferPool::hand(std::shared_ptr<TransferJob> job, bool remove)
{
    Lane& lane = m_lanes[size_t(job->lane)];
    {
        std::lock_guard lock(lane.mutex);
        lane.commands.push_back({ std::move(job), remove });
        ++lane.commandsQueued;
    }
    curl_multi_wakeup(lane.multi.get());
}

void TransferPool::deliver()
{
    std::vector<std::shared_ptr<TransferJob>> ended;
    {
        std::lock_guard lock(m_endedMutex);
        ended.swap(m_ended);
        m_deliveryPosted = false;
    }
    for (const std::shared_ptr<TransferJob>& job : ended) {
        PooledFetch* fetch = job->owner;
        // A fetch closed meanwhile has finished already; its attempt is no longer its own.
        if (!fetch || fetch->m_job != job || !m_fetches.contains(fetch))
            continue;
        fetch->m_attempting = false;
        if (fetch->m_requestSlot && *fetch->m_requestSlot == fetch)
            *fetch->m_requestSlot = nullptr;
        afterAttempt(*fetch);
    }
}

void TransferPool::afterAttempt(PooledFetch& fetch)
{
    const Transfer& transfer = fetch.m_job->transfer;
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
    qint64 due = -1;
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

void TransferPool::run(Lane& lane)
{
    CURLM* multi = lane.multi.get();
    std::vector<Command> commands;
    std::vector<std::shared_ptr<TransferJob>> ended;
    for (;;) {
        {
            std::lock_guard lock(lane.mutex);
            if (lane.stopping)
                break;
            commands.swap(lane.commands);
        }
        if (!commands.empty())
            handle(lane, commands, ended);
        int running = 0;
        const CURLMcode code = curl_multi_perform(multi, &running);
        if (code != CURLM_OK)
            qWarning("TransferPool: curl_multi_perform failed: %s", curl_multi_strerror(code));
        collectEnded(lane, ended);
        if (!ended.empty())
            report(ended);
        (void)curl_multi_poll(multi, nullptr, 0, longestPollMs, nullptr);
    }
    for (const auto& [raw, job] : lane.running) {
        curl_multi_remove_handle(multi, job->transfer.easy());
        job->transfer.close();
    }
    lane.running.clear();
}

void TransferPool::handle(
    Lane& lane, std::vector<Command>& commands, std::vector<std::shared_ptr<TransferJob>>& ended)
{
    for (const Command& command : commands) {
        if (!command.remove) {
            begin(lane, command.job, ended);
            continue;
        }
        const auto found = lane.running.find(command.job.get());
        if (found == lane.running.end())
            continue;
        const CURLMcode code
            = curl_multi_remove_handle(lane.multi.get(), command.job->transfer.easy());
        if (code != CURLM_OK)
            qWarning(
                "TransferPool: curl_multi_remove_handle failed: %s", curl_multi_strerror(code));
        command.job->transfer.close();
        lane.running.erase(found);
        leaveLane(lane, command.job, ended);
    }
    {
        std::lock_guard lock(lane.mutex);
        lane.commandsHandled += commands.size();
    }
    lane.handled.notify_all();
    commands.clear();
}

void TransferPool::report(std::vector<std::shared_ptr<TransferJob>>& ended)
{
    bool post = false;
    {
        std::lock_guard lock(m_endedMutex);
        for (std::shared_ptr<TransferJob>& job : ended)
            m_ended.push_back(std::move(job));
        post = !std::exchange(m_deliveryPosted, true);
    }
    ended.clear();
    // A posted event wakes whatever event loop the window's thread is in.
    if (post)
        QCoreApplication::postEvent(&m_receiver, new QEvent(endedEvent));
}

void TransferPool::begin(Lane& lane, const std::shared_ptr<TransferJob>& job,
    std::vector<std::shared_ptr<TransferJob>>& ended)
{
    // Closed before this thread took it: nothing is sent.
    if (job->cancelled)
        return leaveLane(lane, job, ended);
    Transfer& transfer = job->transfer;
    if (!transfer.open(job->request)) {
        ended.push_back(job);
        return leaveLane(lane, job, ended);
    }
    curl_easy_setopt(transfer.easy(), CURLOPT_PRIVATE, static_cast<void*>(job.get()));
    if (curl_multi_add_handle(lane.multi.get(), transfer.easy()) != CURLM_OK) {
        transfer.close();
        transfer.finish(CURLE_FAILED_INIT);
        ended.push_back(job);
        return leaveLane(lane, job, ended);
    }
    lane.running.emplace(job.get(), job);
}

void TransferPool::leaveLane(Lane& lane, const std::shared_ptr<TransferJob>& job,
    std::vector<std::shared_ptr<TransferJob>>& ended)
{
    if (!job->request.ahead)
        return;
    std::shared_ptr<TransferJob> next;
    {
        std::lock_guard lock(m_waitMutex);
        std::map<QByteArray, int>& running = m_aheadRunning[size_t(lane.index)];
        int busy = 0;
        if (const auto counted = running.find(job->server); counted != running.end()) {
            busy = --counted->second;
            if (busy <= 0) {
                running.erase(counted);
                busy = 0;
            }
        }
        const auto waiting = m_waiting.find(job->server);
        // The connection just freed goes to the fetch that has waited longest (the urgent ones
        // first), unless it was lent and has been taken back.
        if (waiting != m_waiting.end()
            && busy < aheadRoom(lane.index, waiting->second.front()->request.urgent)) {
            next = std::move(waiting->second.front());
            waiting->second.pop_front();
            if (waiting->second.empty())
                m_waiting.erase(waiting);
            next->lane = lane.index;
            ++running[next->server];
        }
    }
    if (next)
        begin(lane, next, ended);
}

void TransferPool::collectEnded(Lane& lane, std::vector<std::shared_ptr<TransferJob>>& ended)
{
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(lane.multi.get(), &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        char* data = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &data);
        const auto found = lane.running.find(reinterpret_cast<TransferJob*>(data));
        if (found == lane.running.end())
            continue;
        const std::shared_ptr<TransferJob> job = found->second;
        lane.running.erase(found);
        job->transfer.finish(message->data.result);
        curl_multi_remove_handle(lane.multi.get(), job->transfer.easy());
        job->transfer.close();
        ended.push_back(job);
        leaveLane(lane, job, ended);
    }
}
