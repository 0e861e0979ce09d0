// Connections, TLS sessions and name lookups kept for the life of the main window, so that
// successive requests to one server reuse its connection, and the pool that moves every transfer.
#pragma once

#include <memory>

class TransferPool;

class ConnectionCache
{
public:
    ConnectionCache();
    ~ConnectionCache();
    ConnectionCache(const ConnectionCache&) = delete;
    ConnectionCache& operator=(const ConnectionCache&) = delete;

    // The libcurl share handle (CURLSH*), for CURLOPT_SHARE.
    void* share() const;
    // The window's transfer pool; every fetch runs in it.
    TransferPool& pool() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Initialises libcurl once for the process; safe to call again.
void initialiseCurlOnce();
