#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qs {

// Runs every task on a thread of its own at once, reusing threads that finished an
// earlier task instead of starting a new one each time (a task may block for long, as
// a waiting select does). A thread idle for idle_keep ends. Owned by the network side;
// safe from any thread.
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
    void reap(std::unique_lock<std::mutex>& guard);

    const std::chrono::milliseconds idle_keep_;
    std::mutex lock_;                              // guards everything below
    std::condition_variable queued_;               // a task waits, or shutdown began
    std::deque<std::function<void()>> tasks_;
    std::vector<std::thread> threads_;             // running or idle
    std::vector<std::thread::id> finished_;        // ended, to be joined
    std::size_t idle_ = 0;                         // threads waiting for a task
    bool stopping_ = false;
};

} // namespace qs
