#include "worker_pool.h"

namespace qs {

struct worker_pool::task_state {
    worker* on = nullptr; // the worker running it, while it runs
};

worker_pool::worker_pool(std::size_t width)
{
    qs::lock_guard guard(lock_);
    for (std::size_t i = 0; i < (width == 0 ? 1 : width); ++i)
        start_worker();
}

worker_pool::~worker_pool()
{
    join();
}

void worker_pool::start_worker()
{
    worker& w = workers_.emplace_back();
    w.thread = std::thread([this, &w] { work(w); });
}

worker_pool::ticket worker_pool::post(std::function<void()> task)
{
    auto t = std::make_shared<task_state>();
    {
        qs::lock_guard guard(lock_);
        if (joined_)
            return t;
        queue_.push_back({t, std::move(task)});
    }
    queued_.notify_one();
    return t;
}

void worker_pool::write_off(const ticket& t)
{
    qs::lock_guard guard(lock_);
    if (!t || t->on == nullptr || t->on->written_off || joined_)
        return;
    t->on->written_off = true;
    start_worker();
}

// The threads of written-off workers that ended, out of the list; called with the lock
// held, joined outside it by the next worker to start. Once join() has begun it owns every
// thread: a worker starting only now leaves them to it.
std::vector<std::thread> worker_pool::ended_threads()
{
    std::vector<std::thread> ended;
    if (joined_)
        return ended;
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (!it->ended) {
            ++it;
            continue;
        }
        ended.push_back(std::move(it->thread));
        it = workers_.erase(it);
    }
    return ended;
}

void worker_pool::work(worker& me)
{
    qs::unique_lock guard(lock_);
    auto ended = ended_threads();
    guard.unlock();
    for (auto& thread : ended)
        thread.join();
    guard.lock();
    for (;;) {
        while (queue_.empty() && !joined_)
            guard.wait(queued_);
        if (queue_.empty())
            break;
        queued next = std::move(queue_.front());
        queue_.pop_front();
        next.state->on = &me;
        ++running_;
        guard.unlock();
        next.task();
        next.task = nullptr; // what it holds goes before it counts as returned
        guard.lock();
        next.state->on = nullptr;
        if (--running_ == 0 && queue_.empty())
            all_returned_.notify_all();
        if (me.written_off)
            break;
    }
    me.ended = true;
}

void worker_pool::join()
{
    std::vector<std::thread> all;
    {
        qs::unique_lock guard(lock_);
        while (running_ != 0 || !queue_.empty())
            guard.wait(all_returned_);
        joined_ = true;
        for (auto& w : workers_)
            all.push_back(std::move(w.thread));
    }
    queued_.notify_all();
    for (auto& thread : all)
        if (thread.joinable())
            thread.join();
    qs::lock_guard guard(lock_);
    workers_.clear(); // no thread uses its record any more
}

} // namespace qs
