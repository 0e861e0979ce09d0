// Connections, TLS sessions and name lookups kept for the life of the main window.
#include "web/connectioncache.h"

#include "web/curlhandles.h"
#include "web/transferpool.h"

#include <QtGlobal>

#include <array>
#include <csignal>
#include <mutex>

namespace {

// The pool's lanes look names and TLS sessions up from their own threads at once.
struct ShareLocks
{
    std::array<std::mutex, CURL_LOCK_DATA_LAST> kinds;

    static void lock(CURL*, curl_lock_data kind, curl_lock_access, void* self) noexcept
    {
        static_cast<ShareLocks*>(self)->kinds[size_t(kind)].lock();
    }
    static void unlock(CURL*, curl_lock_data kind, void* self) noexcept
    {
        static_cast<ShareLocks*>(self)->kinds[size_t(kind)].unlock();
    }
};

} // namespace

struct ConnectionCache::Impl
{
    ShareLocks locks; // declared first: the share is cleaned up before them
    CurlShare share;
    std::unique_ptr<TransferPool> pool;
};

ConnectionCache::ConnectionCache()
    : m_impl(std::make_unique<Impl>())
{
    initialiseCurlOnce();
    m_impl->share.reset(curl_share_init());
    CURLSH* share = m_impl->share.get();
    if (share
        && (curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &ShareLocks::lock) != CURLSHE_OK
            || curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &ShareLocks::unlock) != CURLSHE_OK
            || curl_share_setopt(share, CURLSHOPT_USERDATA, &m_impl->locks) != CURLSHE_OK)) {
        // Unlocked, it must not be used by two threads: each transfer looks up on its own.
        m_impl->share.reset();
        share = nullptr;
    }
    m_impl->pool = std::make_unique<TransferPool>(share);
    if (!share) {
        qWarning("ConnectionCache: curl_share_init failed; TLS sessions will not be reused");
        return;
    }
    // Cookies are deliberately left out: nothing but the connection itself outlives a request.
    // The connections themselves stay with the pool's multi handles, which limit them per server.
    for (const curl_lock_data kind : { CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION }) {
        const CURLSHcode code = curl_share_setopt(m_impl->share.get(), CURLSHOPT_SHARE, kind);
        if (code != CURLSHE_OK)
            qWarning("ConnectionCache: cannot share data kind %d: %s", int(kind),
                curl_share_strerror(code));
    }
}

ConnectionCache::~ConnectionCache()
{
    m_impl->pool.reset();
    if (!m_impl->share)
        return;
    // A share still used by a transfer must not be freed under it: libcurl refuses, and leaking
    // it is the lesser harm (the window is going away).
    const CURLSHcode code = curl_share_cleanup(m_impl->share.release());
    if (code != CURLSHE_OK)
        qWarning("ConnectionCache: share still in use at close: %s", curl_share_strerror(code));
}

void* ConnectionCache::share() const { return m_impl->share.get(); }

TransferPool& ConnectionCache::pool() const { return *m_impl->pool; }

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // A peer that closes its end must give a failed write, not end the program.
        std::signal(SIGPIPE, SIG_IGN);
        const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT);
        if (code != CURLE_OK)
            qWarning("curl_global_init failed: %s", curl_easy_strerror(code));
    });
}
