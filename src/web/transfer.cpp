// The core of one transfer: easy handle settings, the body and the ending.
#include "web/transfer.h"

#include "resources/messages.h"

#include <QUrl>
#include <QtGlobal>

#include <cstdlib>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace {

// Large reads keep a big body from being handed over in thousands of small pieces. On a fast
// network 512 KB take a third fewer reads and waits than 128 KB; only the transfers under way
// (a few per server) hold one.
constexpr long receiveBufferSize = 512L * 1024;
constexpr long maxRedirects = 20;
// Only what a page can sensibly link to; never file: or the many others libcurl knows.
constexpr char allowedProtocols[] = "http,https,ftp";

// Failures that a new attempt at the same address would meet again.
bool isLasting(CURLcode code)
{
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_FAILED_INIT:
    case CURLE_URL_MALFORMAT:
    case CURLE_NOT_BUILT_IN:
    case CURLE_OUT_OF_MEMORY:
    case CURLE_BAD_FUNCTION_ARGUMENT:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_LOGIN_DENIED:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FILESIZE_EXCEEDED:
        return true;
    default:
        return false;
    }
}

// Failures of a redirect's next request before any answer: the redirect's own answer was all.
bool endsBeforeAnswer(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_GOT_NOTHING:
    case CURLE_PEER_FAILED_VERIFICATION:
        return true;
    default:
        return false;
    }
}

// The trust store the user named the way OpenSSL programs honour it; libcurl itself always uses
// the system's, which would make a private certificate authority impossible to use.
const char* environmentPath(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value ? value : nullptr;
}

// A large body is written into fresh memory, and on Linux a page fault per 4 KB page costs more
// than receiving the bytes; asking for huge pages saves most of them.
void preferHugePages(QByteArray& buffer)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr quintptr hugePage = 2 * 1024 * 1024;
    if (buffer.capacity() < qsizetype(4 * hugePage))
        return;
    const auto start = reinterpret_cast<quintptr>(buffer.data());
    const quintptr first = (start + hugePage - 1) & ~(hugePage - 1);
    const quintptr end = (start + quintptr(buffer.capacity())) & ~(hugePage - 1);
    if (end > first)
        (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE); // only a hint
#else
    Q_UNUSED(buffer);
#endif
}

} // namespace

bool Transfer::open(const Request& request)
{
    close();
    m_body.clear();
    m_sink = request.sink;
    m_received.store(0, std::memory_order_relaxed);
    m_maxBytes = qMax<qint64>(request.maxBytes, 0);
    m_finished = false;
    m_responseStarted = false;
    m_requestSent = false;
    m_status = 0;
    m_endedAt.clear();
    m_redirectedTo.clear();
    m_contentType.clear();
    m_sizeChecked = false;
    m_tooLarge = false;
    m_refused = false;
    m_announced = 0;
    m_result = CURLE_OK;

    m_easy.reset(curl_easy_init());
    if (!m_easy || !applyOptions(request)) {
        m_easy.reset();
        m_headers.reset();
        finish(CURLE_FAILED_INIT);
        return false;
    }
    return true;
}

bool Transfer::applyOptions(const Request& request)
{
    CURL* easy = m_easy.get();
    // The root goes glued to the colon, as Pixhound has always sent it; servers accept it (the
    // blank after the colon is optional).
    const QByteArray referer = QByteArrayLiteral("Referer:") + request.root;
    m_headers.reset();
    // The platform's "reload" flag asked every cache on the way for a fresh answer.
    if (!appendHeader(m_headers, referer.constData())
        || !appendHeader(m_headers, "Cache-Control: no-cache")
        || !appendHeader(m_headers, "Pragma: no-cache"))
        return false;

    bool ok = true;
    const auto set = [&](CURLoption option, auto value) {
        if (ok && curl_easy_setopt(easy, option, value) != CURLE_OK)
            ok = false;
    };
    set(CURLOPT_URL, request.url.constData());
    set(CURLOPT_PROTOCOLS_STR, allowedProtocols);
    set(CURLOPT_REDIR_PROTOCOLS_STR, allowedProtocols);
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, maxRedirects);
    set(CURLOPT_USERAGENT, pixhoundUserAgent);
    set(CURLOPT_HTTPHEADER, m_headers.get());
    set(CURLOPT_NOSIGNAL, 1L);
    // A forged site must never pass for the real one.
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_BUFFERSIZE, receiveBufferSize);
    // Every encoding this libcurl can decode is asked for; bodies arrive decoded.
    set(CURLOPT_ACCEPT_ENCODING, "");
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, qMax(request.stallSeconds, 1L));
    set(CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_maxBytes));
    set(CURLOPT_WRITEFUNCTION, &Transfer::onWrite);
    set(CURLOPT_WRITEDATA, static_cast<void*>(this));
    set(CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    set(CURLOPT_HEADERDATA, static_cast<void*>(this));
    set(CURLOPT_PREREQFUNCTION, &Transfer::onRequestReady);
    set(CURLOPT_PREREQDATA, static_cast<void*>(this));
    if (request.connectTimeoutMs > 0)
        set(CURLOPT_CONNECTTIMEOUT_MS, request.connectTimeoutMs);
    if (request.freshConnection)
        set(CURLOPT_FRESH_CONNECT, 1L);
    if (request.share)
        set(CURLOPT_SHARE, static_cast<CURLSH*>(request.share));
    // HTTP/2 carries many requests over one connection where an https server offers it; a libcurl
    // without it keeps to HTTP/1.1, so a refusal of these two is no failure.
    (void)curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    if (request.url.startsWith("https:"))
        (void)curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    if (const char* file = environmentPath("SSL_CERT_FILE"))
        set(CURLOPT_CAINFO, file);
    if (const char* dir = environmentPath("SSL_CERT_DIR"))
        set(CURLOPT_CAPATH, dir);
    return ok;
}

void Transfer::close() { m_easy.reset(); }

void Transfer::finish(CURLcode result)
{
    m_result = result;
    m_finished = true;
    if (m_sink)
        m_sink->end();
    if (!m_easy)
        return;
    char* endedAt = nullptr;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_EFFECTIVE_URL, &endedAt) == CURLE_OK && endedAt)
        m_endedAt = endedAt;
    long redirects = 0;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_REDIRECT_COUNT, &redirects) == CURLE_OK
        && redirects > 0)
        m_redirectedTo = m_endedAt;
    char* contentType = nullptr;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK
        && contentType)
        m_contentType = contentType;
    // Only HTTP has statuses; libcurl reports an FTP server's last reply code in the same place.
    char* scheme = nullptr;
    const bool http = curl_easy_getinfo(m_easy.get(), CURLINFO_SCHEME, &scheme) == CURLE_OK
        && scheme && qstrnicmp(scheme, "http", 4) == 0;
    if (!http || curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &m_status) != CURLE_OK)
        m_status = 0;
}

FetchOutcome Transfer::outcome() const
{
    if (m_tooLarge || m_result == CURLE_FILESIZE_EXCEEDED)
        return FetchOutcome::TooLarge;
    if (m_result == CURLE_OK)
        return FetchOutcome::Complete;
    // A redirect that leads nowhere: its answer was the only one, and nothing of a body came.
    if (received() == 0 && !m_redirectedTo.isEmpty() && endsBeforeAnswer(m_result))
        return FetchOutcome::NoConnection;
    if (m_responseStarted || received() != 0)
        return FetchOutcome::Incomplete;
    return FetchOutcome::NoConnection;
}

bool Transfer::mayRetry() const
{
    return m_finished && !m_requestSent && outcome() == FetchOutcome::NoConnection
        && !isLasting(m_result);
}

QString Transfer::failureText() const
{
    if (!m_finished)
        return {};
    const QString host = QUrl(QString::fromUtf8(m_endedAt)).host();
    const FetchOutcome ended = outcome();
    if (ended == FetchOutcome::Complete)
        return m_status >= 400 ? Msg::httpError(host, m_status) : QString();
    if (ended == FetchOutcome::TooLarge)
        return Msg::pageTooLarge(m_maxBytes / (1024 * 1024));
    switch (m_result) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return Msg::certificateRefused(host);
    case CURLE_COULDNT_RESOLVE_HOST:
        return Msg::hostNotFound(host);
    case CURLE_COULDNT_CONNECT:
        return Msg::connectionRefused(host);
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
        return Msg::noAnswer(host);
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return Msg::connectionLost(host);
    case CURLE_TOO_MANY_REDIRECTS:
        return Msg::redirectLoop(host);
    case CURLE_UNSUPPORTED_PROTOCOL:
        return m_redirectedTo.isEmpty()
            ? QString()
            : Msg::redirectScheme(QUrl(QString::fromUtf8(m_endedAt)).scheme());
    default:
        return {};
    }
}

size_t Transfer::onWrite(char* bytes, size_t size, size_t count, void* self) noexcept
{
    return static_cast<Transfer*>(self)->receive(bytes, size * count);
}

size_t Transfer::onHeader(char*, size_t size, size_t count, void* self) noexcept
{
    // Any answer at all means the server was reached: a failure from here on is not one that
    // reconnecting should hide.
    static_cast<Transfer*>(self)->m_responseStarted = true;
    return size * count;
}

int Transfer::onRequestReady(void* self, char*, char*, int, int) noexcept
{
    // The connection is up (TLS included) and the request goes out now.
    static_cast<Transfer*>(self)->m_requestSent = true;
    return CURL_PREREQFUNC_OK;
}

size_t Transfer::receive(const char* bytes, size_t size) noexcept
{
    m_responseStarted = true;
    try {
        if (!m_sizeChecked) {
            m_sizeChecked = true;
            curl_off_t announced = -1;
            if (curl_easy_getinfo(m_easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced)
                    == CURLE_OK
                && announced > 0) {
                if (announced > m_maxBytes) {
                    m_tooLarge = true;
                    return 0;
                }
                if (m_gate && !m_gate(announced)) {
                    m_refused = true;
                    return 0;
                }
                m_announced = announced;
                if (!m_sink) {
                    m_body.reserve(qsizetype(announced));
                    preferHugePages(m_body);
                }
            }
        }
        const qint64 held = received();
        // Bytes within the announced length were allowed at once.
        const qint64 beyondClaim = held + qint64(size) - m_announced;
        if (m_gate && beyondClaim > 0 && !m_gate(qMin(beyondClaim, qint64(size)))) {
            m_refused = true;
            return 0;
        }
        const qint64 room = m_maxBytes - held;
        const qint64 taken = qMin(qint64(size), room);
        if (!m_sink) {
            m_body.append(bytes, qsizetype(taken));
        } else {
            if (m_body.size() < headBytes)
                m_body.append(bytes, qsizetype(qMin<qint64>(taken, headBytes - m_body.size())));
            // A refused piece ends the transfer; the sink keeps why, for the entry's turn.
            if (!m_sink->write(bytes, size_t(taken)))
                return 0;
        }
        m_received.store(held + taken, std::memory_order_relaxed);
        if (taken < qint64(size)) {
            m_tooLarge = true;
            return 0;
        }
        return size;
    } catch (...) {
        // Out of memory: end the transfer as failed; the bytes kept so far stay.
        return 0;
    }
}
