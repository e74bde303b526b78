#pragma once

#include <functional>
#include <mutex>

#include "qs/server/event_loop_thread.h"

namespace qs {

// The server state's locks (the table lock, the user locks) are taken through
// state_guard, which counts those the calling thread holds. A callback handed to
// run_outside_state_locks() runs at once when the thread holds none, else when it
// releases the last one: no callback ever runs under a state lock, whatever path
// completed it.
void run_outside_state_locks(std::function<void()> callback);

// One state lock, held from construction until unlock() or destruction.
class state_guard {
public:
    // Waits for the lock; on an event loop, when wait_on_loop is false, throws
    // would_block instead of waiting.
    explicit state_guard(std::mutex& m, bool wait_on_loop = true);
    ~state_guard();
    state_guard(const state_guard&) = delete;
    state_guard& operator=(const state_guard&) = delete;

    void unlock();
    void lock();

private:
    std::mutex& m_;
    bool owns_ = false;
};

} // namespace qs
