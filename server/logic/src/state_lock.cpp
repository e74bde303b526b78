#include "qs/server/logic/state_lock.h"

#include <vector>

#include "qs/server/logic/log.h"
#include "qs/server/logic/log_redaction.h"

namespace qs {

namespace {

thread_local bool event_loop = false;
thread_local int state_locks_held = 0;
thread_local std::vector<std::function<void()>> waiting_callbacks;

void acquired() noexcept
{
    ++state_locks_held;
}

// The callbacks queued under the locks run once the last is released; they may queue
// more, which run in the same pass.
void released()
{
    if (--state_locks_held > 0)
        return;
    while (!waiting_callbacks.empty()) {
        std::vector<std::function<void()>> now;
        now.swap(waiting_callbacks);
        for (auto& callback : now) {
            try {
                callback();
            } catch (...) {
                log_error("A completion failed: " + reason_of(std::current_exception()));
            }
        }
    }
}

} // namespace

void mark_event_loop_thread() noexcept
{
    event_loop = true;
}

bool on_event_loop() noexcept
{
    return event_loop;
}

bool holding_state_locks() noexcept
{
    return state_locks_held > 0;
}

void run_outside_state_locks(std::function<void()> callback)
{
    if (state_locks_held > 0) {
        waiting_callbacks.push_back(std::move(callback));
        return;
    }
    callback();
}

state_guard::state_guard(mutex& m, bool wait_on_loop) : m_(m)
{
    if (!wait_on_loop && event_loop) {
        if (!m_.try_lock())
            throw would_block();
    } else {
        m_.lock();
    }
    owns_ = true;
    acquired();
}

// The table lock never throws would_block: it is held only briefly, never across waits.
state_guard::state_guard(table_mutex& m) : state_guard(m, true) {}

state_guard::~state_guard()
{
    if (owns_)
        unlock();
}

void state_guard::unlock()
{
    m_.unlock();
    owns_ = false;
    released();
}

void state_guard::lock()
{
    m_.lock();
    owns_ = true;
    acquired();
}

} // namespace qs
