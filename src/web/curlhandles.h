// Owning wrappers for libcurl's handles, so that every path out of a fetch releases them.
#pragma once

#include <curl/curl.h>

#include <memory>

struct CurlEasyDeleter
{
    void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
struct CurlMultiDeleter
{
    void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};
struct CurlShareDeleter
{
    void operator()(CURLSH* share) const noexcept { curl_share_cleanup(share); }
};
struct CurlSlistDeleter
{
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlShare = std::unique_ptr<CURLSH, CurlShareDeleter>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

// Appends a line to a header list; false (the list untouched) when libcurl could not.
inline bool appendHeader(CurlSlist& list, const char* line)
{
    curl_slist* grown = curl_slist_append(list.get(), line);
    if (!grown)
        return false;
    (void)list.release();
    list.reset(grown);
    return true;
}
