#include "qs/server/thread_cache.h"

#include <algorithm>

namespace qs {

thread_cache::thread_cache(std::chrono::milliseconds idle_keep) : idle_keep_(idle_keep) {}

thread_cache::~thread_cache()
{
    shutdown();
}

void thread_cache::run(std::function<void()> task)
{
    std::unique_lock guard(lock_);
    reap(guard);
    tasks_.push_back(std::move(task));
    if (tasks_.size() > idle_)  // every task gets a thread of its own now
        threads_.emplace_back([this] { work(); });
    else
        queued_.notify_one();
}

std::size_t thread_cache::idle()
{
    std::lock_guard guard(lock_);
    return idle_;
}

void thread_cache::work()
{
    std::unique_lock guard(lock_);
    for (;;) {
        while (tasks_.empty() && !stopping_) {
            ++idle_;
            const bool woken = queued_.wait_for(guard, idle_keep_, [&] { return !tasks_.empty() || stopping_; });
            --idle_;
            if (!woken) {
                finished_.push_back(std::this_thread::get_id());
                return;
            }
        }
        if (tasks_.empty()) {  // stopping, nothing left
            finished_.push_back(std::this_thread::get_id());
            return;
        }
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        guard.unlock();
        task();
        task = nullptr;  // what it holds goes before the thread is counted idle
        guard.lock();
    }
}

// Joins the threads that ended; called with the lock held.
void thread_cache::reap(std::unique_lock<std::mutex>& guard)
{
    std::vector<std::thread> ended;
    for (auto id : finished_) {
        auto it = std::find_if(threads_.begin(), threads_.end(), [&](const std::thread& t) { return t.get_id() == id; });
        if (it != threads_.end()) {
            ended.push_back(std::move(*it));
            threads_.erase(it);
        }
    }
    finished_.clear();
    if (ended.empty())
        return;
    guard.unlock();
    for (auto& t : ended)
        t.join();
    guard.lock();
}

void thread_cache::shutdown()
{
    std::vector<std::thread> all;
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
        all.swap(threads_);
        finished_.clear();
    }
    queued_.notify_all();
    for (auto& t : all)
        t.join();
}

} // namespace qs
