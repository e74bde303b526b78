#include "qs/server/logic/delivery_ack.h"

#include "qs/server/logic/state_lock.h"

namespace qs {

// An entry dropped unsettled (never expected) counts as a failure, so the sender is
// always answered.
delivery_ack::~delivery_ack()
{
    if (done_ && outstanding_ > 0)
        run_outside_state_locks([done = std::move(done_), code = failure_code_] { done(false, code); });
}

void delivery_ack::attach()
{
    ++attached_;
    qs::lock_guard guard(lock_);
    ++outstanding_;
}

void delivery_ack::confirm()
{
    settle_one(true);
}

void delivery_ack::withdraw()
{
    settle_one(false);
}

void delivery_ack::refuse(int code)
{
    settle_one(false, code);
}

// The sender's hold is let go with done in place, in one step.
void delivery_ack::release(done_fn done)
{
    bool ok = false;
    int failure = failure_code_;
    {
        qs::lock_guard guard(lock_);
        if (--outstanding_ > 0) {
            done_ = std::move(done);
            return;
        }
        ok = !failed_;
        if (refusal_ != 0)
            failure = refusal_;
    }
    finish(std::move(done), ok, failure);
}

void delivery_ack::settle_one(bool safe, int code)
{
    done_fn done;
    bool ok = false;
    int failure = failure_code_;
    {
        qs::lock_guard guard(lock_);
        failed_ = failed_ || !safe;
        if (refusal_ == 0)
            refusal_ = code;
        if (--outstanding_ > 0 || !done_)
            return;
        done.swap(done_);
        ok = !failed_;
        if (refusal_ != 0)
            failure = refusal_;
    }
    finish(std::move(done), ok, failure);
}

// Outside every state lock: at once when the thread holds none (the common case, without
// wrapping done once more), else once it has let them go.
void delivery_ack::finish(done_fn done, bool ok, int failure)
{
    if (!done)
        return;
    if (!holding_state_locks())
        done(ok, failure);
    else
        run_outside_state_locks([done = std::move(done), ok, failure] { done(ok, failure); });
}

} // namespace qs
