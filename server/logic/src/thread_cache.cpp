#include "qs/server/logic/thread_cache.h"

#include <algorithm>

namespace qs {

thread_cache::thread_cache(std::chrono::milliseconds idle_keep) : idle_keep_(idle_keep) {}

thread_cache::~thread_cache()
{
    shutdown();
}

// Joins the threads that ended, outside the lock.
void thread_cache::run(std::function<void()> task)
{
    std::vector<std::thread> ended;
    {
        qs::lock_guard guard(lock_);
        ended = take_finished();
        tasks_.push_back(std::move(task));
        if (tasks_.size() > idle_) // every task gets a thread of its own now
            threads_.emplace_back([this] { work(); });
        else
            queued_.notify_one();
    }
    for (auto& t : ended)
        t.join();
}

std::size_t thread_cache::idle()
{
    qs::lock_guard guard(lock_);
    return idle_;
}

void thread_cache::work()
{
    qs::unique_lock guard(lock_);
    for (;;) {
        const auto give_up = std::chrono::steady_clock::now() + idle_keep_;
        while (tasks_.empty() && !stopping_) {
            ++idle_;
            const bool timed_out = guard.wait_until(queued_, give_up) == std::cv_status::timeout;
            --idle_;
            if (timed_out && tasks_.empty() && !stopping_) {
                finished_.push_back(std::this_thread::get_id());
                return;
            }
        }
        if (tasks_.empty()) { // stopping, nothing left
            finished_.push_back(std::this_thread::get_id());
            return;
        }
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        guard.unlock();
        task();
        task = nullptr; // what it holds goes before the thread is counted idle
        guard.lock();
    }
}

// The threads that ended, taken out of threads_ for the caller to join.
std::vector<std::thread> thread_cache::take_finished()
{
    std::vector<std::thread> ended;
    for (auto id : finished_) {
        auto it =
            std::find_if(threads_.begin(), threads_.end(), [&](const std::thread& t) { return t.get_id() == id; });
        if (it != threads_.end()) {
            ended.push_back(std::move(*it));
            threads_.erase(it);
        }
    }
    finished_.clear();
    return ended;
}

void thread_cache::shutdown()
{
    std::vector<std::thread> all;
    {
        qs::lock_guard guard(lock_);
        stopping_ = true;
        all.swap(threads_);
        finished_.clear();
    }
    queued_.notify_all();
    for (auto& t : all)
        t.join();
}

} // namespace qs
