#include "header/record_memory.h"

#include <climits>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace sigtrove::engine {

long long memory_for(long long count, long long each) {
    if (count <= 0 || each <= 0) return 0;
    return count > LLONG_MAX / each ? LLONG_MAX : count * each;
}

void return_freed_memory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace sigtrove::engine
