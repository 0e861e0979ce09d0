// The program's only client for pages and images, driven from the GUI thread.
#include "web/fetcher.h"

#include "platform/runhost.h"
#include "platform/runstate.h"
#include "resources/messages.h"
#include "web/connectioncache.h"
#include "web/fetchhandle.h"
#include "web/getlinkurl.h"

#include <QElapsedTimer>
#include <QThread>

#include <optional>

namespace {

// A server gets this long to answer before the session is thrown away and built anew.
constexpr qint64 connectWindowMs = 5000;
// Attempts at a server that refuses are spaced, so that it is not hammered.
constexpr qint64 retrySpacingMs = 250;
constexpr qint64 freshSessionPauseMs = 1500;
// An attempt late in the window still gets a fair chance to connect.
constexpr long shortestAttemptMs = 250;
constexpr int pollMs = 10;
// The status line is repainted at most this often while bytes arrive.
constexpr qint64 progressIntervalMs = 50;

// Keeps a handle in the window's run state while it is in use, so that Cancel can close it, and
// takes it out again on every way out of the scope.
class HandleSlot
{
public:
    HandleSlot(FetchHandle*& slot, FetchHandle& handle)
        : m_slot(slot)
        , m_handle(handle)
    {
        m_slot = &m_handle;
    }
    ~HandleSlot()
    {
        if (m_slot == &m_handle)
            m_slot = nullptr;
        m_handle.close();
    }
    HandleSlot(const HandleSlot&) = delete;
    HandleSlot& operator=(const HandleSlot&) = delete;

private:
    FetchHandle*& m_slot;
    FetchHandle& m_handle;
};

class Fetch
{
public:
    Fetch(RunHost& host, Transfer::Request request)
        : m_host(host)
        , m_state(host.runState())
        , m_connections(m_state.connections)
        , m_request(std::move(request))
    {
        m_request.share = m_connections ? m_connections->share() : nullptr;
        m_request.stallSeconds = m_state.fetchStallSeconds;
    }

    FetchOutcome run();
    QByteArray takeBody() { return std::exchange(m_body, {}); }
    // Of the last attempt: where it was redirected to (see Transfer) and what failed.
    const QByteArray& redirectedTo() const { return m_redirectedTo; }
    const QString& failureText() const { return m_failureText; }

private:
    std::optional<FetchOutcome> openSession(FetchSession& session);
    std::optional<FetchOutcome> attempt(FetchSession& session, qint64 connectTimeoutMs, bool fresh);
    std::optional<FetchOutcome> drive(FetchSession& session, FetchRequest& request);
    bool pauseUntil(qint64 untilMs, const FetchSession& session);
    bool stopped(const FetchSession& session, const FetchRequest* request = nullptr) const;
    void showProgress(qint64 count, bool final);
    FetchOutcome finish(FetchOutcome outcome);

    RunHost& m_host;
    RunState& m_state;
    // Held for the whole call: the transfers use its share handle.
    const std::shared_ptr<ConnectionCache> m_connections;
    Transfer::Request m_request;
    QByteArray m_body;
    QByteArray m_redirectedTo;
    QString m_failureText;
    QString m_prefix;
    QElapsedTimer m_clock;
    QElapsedTimer m_sinceShown;
    qint64 m_shownCount = 0;
};

FetchOutcome Fetch::run()
{
    m_prefix = m_host.infoText();
    m_clock.start();
    {
        FetchSession session;
        HandleSlot sessionSlot(m_state.hInternet, session);
        if (const auto ended = openSession(session))
            return finish(*ended);
        const qint64 windowStart = m_clock.elapsed();
        for (;;) {
            const qint64 started = m_clock.elapsed();
            const qint64 left = connectWindowMs - (started - windowStart);
            if (const auto ended = attempt(session, qMax<qint64>(left, shortestAttemptMs), false))
                return finish(*ended);
            // The window is over once it has passed, or when the next attempt would start after it.
            const qint64 next = started + retrySpacingMs;
            if (m_clock.elapsed() - windowStart >= connectWindowMs
                || next - windowStart > connectWindowMs)
                break;
            if (!pauseUntil(next, session))
                return finish(FetchOutcome::Cancelled);
        }
    }
    // The server did not answer in time: start again from nothing, once, after a pause. The new
    // session is in the window's hands from the start, so that closing the window ends the pause.
    FetchSession session;
    HandleSlot sessionSlot(m_state.hInternet, session);
    if (!pauseUntil(m_clock.elapsed() + freshSessionPauseMs, session))
        return finish(FetchOutcome::Cancelled);
    if (const auto ended = openSession(session))
        return finish(*ended);
    if (const auto ended = attempt(session, connectWindowMs, true))
        return finish(*ended);
    return finish(FetchOutcome::NoConnection);
}

std::optional<FetchOutcome> Fetch::openSession(FetchSession& session)
{
    const qint64 started = m_clock.elapsed();
    for (;;) {
        m_host.yield();
        if (stopped(session))
            return FetchOutcome::Cancelled;
        if (session.open())
            return std::nullopt;
        // Only an exhausted system refuses a multi handle; give it the connect window, no more.
        if (m_clock.elapsed() - started > connectWindowMs)
            return FetchOutcome::NoConnection;
        if (!pauseUntil(m_clock.elapsed() + retrySpacingMs, session))
            return FetchOutcome::Cancelled;
    }
}

// One request. No value when it could not reach the server and another attempt may.
std::optional<FetchOutcome> Fetch::attempt(
    FetchSession& session, qint64 connectTimeoutMs, bool fresh)
{
    Transfer::Request request = m_request;
    request.connectTimeoutMs = long(connectTimeoutMs);
    request.freshConnection = fresh;
    FetchRequest fetchRequest(session);
    HandleSlot requestSlot(m_state.hUrl, fetchRequest);
    Transfer& transfer = fetchRequest.transfer();
    std::optional<FetchOutcome> ended;
    if (fetchRequest.start(request))
        ended = drive(session, fetchRequest);
    m_body = transfer.takeBody();
    m_redirectedTo = transfer.redirectedTo();
    m_failureText = transfer.failureText();
    if (ended)
        return ended;
    if (transfer.mayRetry())
        return std::nullopt;
    return transfer.outcome();
}

// Runs the transfer until it ends. No value when libcurl ended it; Cancelled when the user or the
// window stopped it.
std::optional<FetchOutcome> Fetch::drive(FetchSession& session, FetchRequest& request)
{
    Transfer& transfer = request.transfer();
    CURLM* multi = session.multi();
    for (;;) {
        int running = 0;
        CURLMcode code = curl_multi_perform(multi, &running);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == transfer.easy())
                transfer.finish(message->data.result);
        }
        if (code == CURLM_OK && !transfer.isFinished())
            code = curl_multi_poll(multi, nullptr, 0, pollMs, nullptr);
        if (code != CURLM_OK && !transfer.isFinished())
            transfer.finish(CURLE_FAILED_INIT);
        if (transfer.isFinished())
            return std::nullopt;
        showProgress(transfer.body().size(), false);

        m_host.yield();
        // Cancel and closing the window close the handles from inside the yield: the multi and
        // easy handles are gone and must not be touched again.
        if (stopped(session, &request))
            return FetchOutcome::Cancelled;
    }
}

bool Fetch::pauseUntil(qint64 untilMs, const FetchSession& session)
{
    for (;;) {
        m_host.yield();
        if (stopped(session))
            return false;
        const qint64 left = untilMs - m_clock.elapsed();
        if (left <= 0)
            return true;
        QThread::msleep(qMin<qint64>(left, pollMs));
    }
}

bool Fetch::stopped(const FetchSession& session, const FetchRequest* request) const
{
    return m_state.blnCancel || session.isClosed() || (request && !request->isOpen());
}

void Fetch::showProgress(qint64 count, bool final)
{
    if (!final
        && (count == m_shownCount
            || (m_sinceShown.isValid() && m_sinceShown.elapsed() < progressIntervalMs)))
        return;
    m_host.showInfo(m_prefix + u'(' + QString::number(count) + Msg::bytesDone);
    m_shownCount = count;
    m_sinceShown.start();
}

FetchOutcome Fetch::finish(FetchOutcome outcome)
{
    // After a cancel the status line belongs to the Cancel handler.
    if (outcome != FetchOutcome::Cancelled)
        showProgress(m_body.size(), true);
    return outcome;
}

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
    QString root;
    if (!Get_UrlRoot(url, root))
        return result;
    data.clear();
    Transfer::Request request;
    request.url = wireAddress(url);
    request.root = wireAddress(withoutUserInfo(root));
    request.maxBytes = maxBytes;
    Fetch fetch(host, std::move(request));
    result.outcome = fetch.run();
    data = fetch.takeBody();
    if (!fetch.redirectedTo().isEmpty() && fetch.redirectedTo() != wireAddress(url))
        result.finalUrl = QString::fromUtf8(fetch.redirectedTo());
    if (result.outcome != FetchOutcome::Cancelled)
        result.failureText = fetch.failureText();
    return result;
}

QString Cut_URLTail(const QString& url)
{
    const qsizetype hash = url.indexOf(u'#');
    return hash < 0 ? url : url.left(hash);
}

void closeFetchHandles(RunState& state)
{
    if (FetchHandle* request = std::exchange(state.hUrl, nullptr))
        request->close();
    if (FetchHandle* session = std::exchange(state.hInternet, nullptr))
        session->close();
}
