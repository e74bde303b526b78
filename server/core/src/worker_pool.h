#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <thread>
#include <vector>

#include "qs/sync/mutex.h"

namespace qs {

// width threads running posted tasks in the order posted. A task may be written off
// (it waits in a database driver past its deadline): a new thread starts in its
// thread's place at once, and that thread ends once the task returns, so a database
// that stopped answering never shrinks the pool for good. Owned by the network; safe
// from any thread.
class worker_pool {
public:
    struct task_state;
    using ticket = std::shared_ptr<task_state>;

    explicit worker_pool(std::size_t width);
    ~worker_pool();
    worker_pool(const worker_pool&) = delete;
    worker_pool& operator=(const worker_pool&) = delete;

    // After join() the task is dropped, never run.
    ticket post(std::function<void()> task);
    // A running task's thread is replaced; a task still queued is left alone. Never waits.
    void write_off(const ticket& t);
    // Waits until every posted task has returned, written-off ones included, then ends
    // the threads.
    void join();

private:
    struct worker {
        std::thread thread;
        bool written_off = false; // ends after its task
        bool ended = false;       // out of its loop, to be joined
    };
    struct queued {
        ticket state;
        std::function<void()> task;
    };
    void start_worker() REQUIRES(lock_);
    void work(worker& me);
    std::vector<std::thread> ended_threads() REQUIRES(lock_);

    mutex lock_;                           // also guards every task_state and worker record
    std::condition_variable queued_;       // a task waits, or join() ends the threads
    std::condition_variable all_returned_; // nothing runs and nothing waits
    std::deque<queued> queue_ GUARDED_BY(lock_);
    std::list<worker> workers_ GUARDED_BY(lock_); // a list: each thread keeps its record's address
    std::size_t running_ GUARDED_BY(lock_) = 0;
    bool joined_ GUARDED_BY(lock_) = false;
};

} // namespace qs
