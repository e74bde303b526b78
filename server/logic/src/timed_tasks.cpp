#include "qs/server/logic/timed_tasks.h"

#include "qs/server/logic/log.h"
#include "qs/server/logic/log_redaction.h"

namespace qs {

timed_tasks::timed_tasks() : thread_([this] { work(); }) {}

timed_tasks::~timed_tasks()
{
    {
        qs::lock_guard guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void timed_tasks::run_at(clock::time_point at, std::function<void()> task)
{
    bool first;
    {
        qs::lock_guard guard(lock_);
        first = queue_.empty() || at < queue_.top().at;
        queue_.push({at, queued_++, std::move(task)});
    }
    if (first)
        changed_.notify_one();
}

void timed_tasks::work()
{
    qs::unique_lock guard(lock_);
    while (!stopping_) {
        if (queue_.empty()) {
            guard.wait(changed_);
            continue;
        }
        const clock::time_point next = queue_.top().at; // a copy: queuing may move the top
        if (clock::now() < next) {
            guard.wait_until(changed_, next);
            continue;
        }
        auto task = std::move(const_cast<timed&>(queue_.top()).task);
        queue_.pop();
        guard.unlock();
        try {
            task();
        } catch (...) {
            log_error("A timed task failed: " + reason_of(std::current_exception()));
        }
        guard.lock();
    }
}

} // namespace qs
