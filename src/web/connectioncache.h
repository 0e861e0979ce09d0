// Connections, TLS sessions and name lookups kept for the life of the main window, so that
// successive requests to one server reuse its connection.
#pragma once

#include <memory>

class ConnectionCache
{
public:
    ConnectionCache();
    ~ConnectionCache();
    ConnectionCache(const ConnectionCache&) = delete;
    ConnectionCache& operator=(const ConnectionCache&) = delete;

    // The libcurl share handle (CURLSH*), for CURLOPT_SHARE.
    void* share() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Initialises libcurl once for the process; safe to call again.
void initialiseCurlOnce();
