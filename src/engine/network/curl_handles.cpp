#include "network/curl_handles.h"

#if SIGTROVE_HAVE_CURL

#include <mutex>

namespace sigtrove::engine {

bool curl_ready() {
    static std::once_flag once;
    static bool ready = false;
    // Never cleaned up: handles may live in static objects until the process ends.
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

}  // namespace sigtrove::engine

#endif
