// The program's only client for pages and images, driven from the GUI thread: each fetch runs in
// the window's pool, and the caller waits for it in the event loop.
#include "web/fetcher.h"

#include "resources/messages.h"
#include "run/runhost.h"
#include "run/runstate.h"
#include "web/connectioncache.h"
#include "web/getlinkurl.h"
#include "web/transferpool.h"

#include <QElapsedTimer>
#include <QTimer>

namespace {

// The status line is repainted at most this often while bytes arrive.
constexpr qint64 progressIntervalMs = 50;

// The session of one wait as the window holds it in hInternet: closing it ends the fetch, also
// while the fetch waits for its next attempt and holds no request.
class SessionHandle final : public FetchHandle
{
public:
    explicit SessionHandle(PooledFetch& fetch)
        : m_fetch(fetch)
    { }
    void close() override { m_fetch.close(); }
    bool isOpen() const override { return m_fetch.isOpen(); }

private:
    PooledFetch& m_fetch;
};

// The running byte count behind the status text the wait began with.
class Progress
{
public:
    explicit Progress(RunHost& host)
        : m_host(host)
        , m_prefix(host.infoText())
    { }
    void show(qint64 count, bool final)
    {
        if (!final
            && (count == m_shownCount
                || (m_sinceShown.isValid() && m_sinceShown.elapsed() < progressIntervalMs)))
            return;
        m_host.Show_Info(m_prefix + u'(' + QString::number(count) + Msg::bytesDone);
        m_shownCount = count;
        m_sinceShown.start();
    }

private:
    RunHost& m_host;
    const QString m_prefix;
    QElapsedTimer m_sinceShown;
    qint64 m_shownCount = 0;
};

// The root without a user name or password: the Referer goes to whatever server the page links
// to, and must never hand the credentials on.
QString withoutUserInfo(const QString& root)
{
    const qsizetype start = root.indexOf(u"://");
    if (start < 0)
        return root;
    const qsizetype end = root.indexOf(u'/', start + 3);
    const qsizetype at = root.lastIndexOf(u'@', end < 0 ? -1 : end);
    return at > start ? root.left(start + 3) + root.mid(at + 1) : root;
}

} // namespace

FetchResult Get_UrlData(RunHost& host, const QString& url, QByteArray& data, qint64 maxBytes)
{
    FetchResult result;
    result.finalUrl = url;
    const std::unique_ptr<PooledFetch> fetch = startFetch(host.runState(), url, maxBytes);
    return fetch ? awaitFetchResult(host, url, *fetch, data) : result;
}

FetchResult awaitFetchResult(
    RunHost& host, const QString& url, PooledFetch& fetch, QByteArray& data)
{
    FetchResult result;
    result.finalUrl = url;
    result.outcome = awaitFetch(host, fetch, data, false);
    const QByteArray redirectedTo = fetch.lastAttempt().redirectedTo();
    if (!redirectedTo.isEmpty() && redirectedTo != wireAddress(url))
        result.finalUrl = QString::fromUtf8(redirectedTo);
    if (result.outcome != FetchOutcome::Cancelled)
        result.failureText = fetch.lastAttempt().failureText();
    result.contentType = fetch.lastAttempt().contentType();
    return result;
}

std::unique_ptr<PooledFetch> startFetch(RunState& state, const QString& url, qint64 maxBytes,
    std::shared_ptr<BodySink> sink, std::function<bool(qint64)> gate, bool ahead, bool urgent)
{
    QString root;
    if (!Get_UrlRoot(url, root))
        return nullptr;
    Transfer::Request request;
    request.url = wireAddress(url);
    request.root = wireAddress(withoutUserInfo(root));
    request.maxBytes = maxBytes;
    request.stallSeconds = state.fetchStallSeconds;
    request.sink = std::move(sink);
    request.ahead = ahead;
    request.urgent = urgent;
    return runConnections(state)->pool().start(std::move(request), std::move(gate));
}

std::shared_ptr<ConnectionCache> runConnections(RunState& state)
{
    if (!state.connections)
        state.connections = std::make_shared<ConnectionCache>();
    return state.connections;
}

FetchOutcome awaitFetch(RunHost& host, PooledFetch& fetch, QByteArray& data, bool endOnSkip)
{
    RunState& state = host.runState();
    // Held for the whole wait: the fetch runs in its pool.
    const std::shared_ptr<ConnectionCache> connections = state.connections;
    Progress progress(host);
    SessionHandle session(fetch);
    state.hInternet = &session;
    fetch.setRequestSlot(&state.hUrl);
    const auto stopped = [&] {
        return state.blnCancel || (endOnSkip && state.blnSkip)
            || (fetch.isFinished() && fetch.outcome() == FetchOutcome::Cancelled);
    };
    // The count moves in every event loop, a message box's included: the transfer goes on there.
    QTimer ticks;
    QObject::connect(
        &ticks, &QTimer::timeout, [&] { progress.show(fetch.receivedBytes(), false); });
    ticks.start(progressIntervalMs);
    bool cancelled = false;
    while (!fetch.isFinished()) {
        progress.show(fetch.receivedBytes(), false);
        host.waitForEvents();
        // Cancel and closing the window close the handles from inside the wait.
        if ((cancelled = stopped()))
            break;
    }
    if (cancelled)
        fetch.close();
    fetch.setRequestSlot(nullptr);
    if (state.hInternet == &session)
        state.hInternet = nullptr;
    data = fetch.takeBody();
    if (cancelled)
        return FetchOutcome::Cancelled;
    // A fetch closed before the wait began (by Cancel in an earlier yield) ends the same way.
    const FetchOutcome outcome = fetch.outcome();
    if (outcome != FetchOutcome::Cancelled)
        progress.show(fetch.receivedBytes(), true);
    return outcome;
}

QString Cut_URLTail(const QString& url)
{
    const qsizetype hash = url.indexOf(u'#');
    return hash < 0 ? url : url.left(hash);
}

void stopTransfers(RunState& state)
{
    state.blnCancel = true;
    if (state.connections)
        state.connections->pool().setOpen(false);
    if (FetchHandle* request = std::exchange(state.hUrl, nullptr))
        request->close();
    if (FetchHandle* session = std::exchange(state.hInternet, nullptr))
        session->close();
    if (state.connections)
        state.connections->pool().abortAll();
}

void allowTransfers(RunState& state)
{
    if (state.connections)
        state.connections->pool().setOpen(true);
}
