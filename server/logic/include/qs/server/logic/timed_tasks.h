#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <queue>
#include <thread>
#include <vector>

#include "qs/sync/mutex.h"

namespace qs {

// Runs each task at its time, earliest first, on one thread of its own, which may wait
// (on the database, or a user's lock). Tasks still waiting when it is destroyed are
// dropped. Safe from any thread; holds its lock only to queue and to pick.
class timed_tasks {
public:
    using clock = std::chrono::steady_clock;

    timed_tasks();
    ~timed_tasks();
    timed_tasks(const timed_tasks&) = delete;
    timed_tasks& operator=(const timed_tasks&) = delete;

    void run_at(clock::time_point at, std::function<void()> task);

private:
    struct timed {
        clock::time_point at;
        std::uint64_t order; // equal times run in the order queued
        std::function<void()> task;
        bool operator>(const timed& other) const { return at != other.at ? at > other.at : order > other.order; }
    };
    void work();

    mutex lock_;
    std::condition_variable changed_;
    std::priority_queue<timed, std::vector<timed>, std::greater<>> queue_ GUARDED_BY(lock_);
    std::uint64_t queued_ GUARDED_BY(lock_) = 0;
    bool stopping_ GUARDED_BY(lock_) = false;
    std::thread thread_; // the spill thread; last: starts once the rest exists, joined by the destructor
};

} // namespace qs
