#include "limits/memory_ceiling.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace sigtrove::engine {
namespace {

std::atomic<long long> set_ceiling{0};

// "268435456", "256M", "1G": bytes, or kilo-, mega-, gigabytes (powers of 1024).
long long parse_size(const char *text) {
    if (!text || !*text) return 0;
    errno = 0;
    char *end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (errno == ERANGE || end == text || value <= 0) return 0;
    int shift = 0;
    switch (*end) {
        case '\0': break;
        case 'k':
        case 'K':
            shift = 10;
            ++end;
            break;
        case 'm':
        case 'M':
            shift = 20;
            ++end;
            break;
        case 'g':
        case 'G':
            shift = 30;
            ++end;
            break;
        default: return 0;
    }
    if (*end == 'B' || *end == 'b') ++end;
    if (*end != '\0' || value > (LLONG_MAX >> shift)) return 0;
    return value << shift;
}

}  // namespace

long long max_record_memory() {
    if (long long set = set_ceiling.load(std::memory_order_relaxed); set > 0) return set;
    long long from_environment = parse_size(std::getenv("SIGTROVE_MAX_RECORD_MEMORY"));
    return from_environment > 0 ? from_environment : kDefaultMaxRecordMemory;
}

void set_max_record_memory(long long bytes) { set_ceiling.store(bytes > 0 ? bytes : 0, std::memory_order_relaxed); }

std::string megabytes(long long bytes) {
    char text[64];
    // Whole megabytes from 10 MB on, where a fraction tells nothing.
    if (bytes % (1LL << 20) == 0 || bytes >= (10LL << 20))
        std::snprintf(text, sizeof text, "%lld MB", bytes / (1LL << 20) + (bytes % (1LL << 20) >= (1LL << 19)));
    else
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

}  // namespace sigtrove::engine
