#pragma once

#include <boost/asio/steady_timer.hpp>
#include <memory>

#include "asio_alias.h"

namespace qs {

// A steady_timer made on first use: most connections never need theirs, and an idle
// server holds thousands of connections. Used on one thread, like its owner.
class lazy_timer {
public:
    template <class Executor>
    asio::steady_timer& get(const Executor& executor)
    {
        if (!timer_)
            timer_ = std::make_unique<asio::steady_timer>(executor);
        return *timer_;
    }
    void cancel()
    {
        if (timer_)
            timer_->cancel();
    }
    // Frees the timer; a wait still pending ends with operation_aborted.
    void release() { timer_.reset(); }

private:
    std::unique_ptr<asio::steady_timer> timer_;
};

} // namespace qs
