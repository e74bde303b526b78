#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include "qs/sync/mutex.h"

namespace qs {

// Runs every task on a thread of its own at once, reusing threads that finished an
// earlier task instead of starting a new one each time (a task may block for long, as
// a waiting select does). A thread idle for idle_keep ends. Owned by server_state, which
// runs the select replies that hand out stored entries on it; safe from any thread.
class thread_cache {
public:
    explicit thread_cache(std::chrono::milliseconds idle_keep = std::chrono::seconds(5));
    ~thread_cache();
    thread_cache(const thread_cache&) = delete;
    thread_cache& operator=(const thread_cache&) = delete;

    void run(std::function<void()> task);
    // Threads waiting for a task.
    std::size_t idle();
    // Waits until every task has finished, then ends and joins every thread.
    void shutdown();

private:
    void work();
    std::vector<std::thread> take_finished() REQUIRES(lock_);

    const std::chrono::milliseconds idle_keep_;
    mutex lock_;
    std::condition_variable queued_; // a task waits, or shutdown began
    std::deque<std::function<void()>> tasks_ GUARDED_BY(lock_);
    std::vector<std::thread> threads_ GUARDED_BY(lock_);      // running or idle
    std::vector<std::thread::id> finished_ GUARDED_BY(lock_); // ended, to be joined
    std::size_t idle_ GUARDED_BY(lock_) = 0;                  // threads waiting for a task
    bool stopping_ GUARDED_BY(lock_) = false;
};

} // namespace qs
