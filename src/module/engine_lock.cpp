// The engine lock: a plain mutex with an owner and a depth for reentrancy.
#include "engine_lock.h"

#include <pthread.h>

#include <atomic>

namespace sigtrove {

namespace {

pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
// The holding thread, 0 when none. Only the holder writes it while holding the
// mutex; another thread can never read its own identity here unless it holds it.
std::atomic<unsigned long> owner{0};
unsigned long depth = 0;  // touched by the holder only

void acquire() {
    const unsigned long me = PyThread_get_thread_ident();
    if (owner.load(std::memory_order_acquire) == me) {
        ++depth;
        return;
    }
    if (pthread_mutex_trylock(&mutex) != 0) {
        Py_BEGIN_ALLOW_THREADS
        pthread_mutex_lock(&mutex);
        Py_END_ALLOW_THREADS
    }
    owner.store(me, std::memory_order_release);
    depth = 1;
}

void release() {
    if (--depth > 0) return;
    owner.store(0, std::memory_order_release);
    pthread_mutex_unlock(&mutex);
}

void reset_in_child() {
    // The forking thread keeps a lock it held (it goes on with its operation);
    // a lock held by any other thread would never be released in the child.
    if (owner.load(std::memory_order_acquire) == PyThread_get_thread_ident()) return;
    pthread_mutex_init(&mutex, nullptr);
    owner.store(0, std::memory_order_release);
    depth = 0;
}

}  // namespace

EngineAccess::EngineAccess() { acquire(); }

EngineAccess::~EngineAccess() { release(); }

void prepare_engine_lock_for_fork() {
    static bool registered = false;
    if (!registered) registered = pthread_atfork(nullptr, nullptr, reset_in_child) == 0;
}

}  // namespace sigtrove
