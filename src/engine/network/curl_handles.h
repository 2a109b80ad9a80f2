// Owners of libcurl's handles, and libcurl's one-time process setup.
#ifndef SIGTROVE_ENGINE_CURL_HANDLES_H
#define SIGTROVE_ENGINE_CURL_HANDLES_H

#if SIGTROVE_HAVE_CURL

#include <curl/curl.h>

#include <memory>

namespace sigtrove::engine {

struct CurlEasyDeleter {
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};
struct CurlMultiDeleter {
    void operator()(CURLM *handle) const { curl_multi_cleanup(handle); }
};
struct CurlListDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

// Runs curl_global_init once for the process; false when it failed.
bool curl_ready();

}  // namespace sigtrove::engine

#endif

#endif
