#pragma once

#include <boost/asio/execution.hpp>
#include <boost/asio/execution_context.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/require.hpp>
#include <utility>

namespace qsb {

// An executor whose handlers run on one io_context, which its owner polls, while the
// services of the I/O objects made with it (Beast's timer) live in another that never
// runs. A timer service brings a reactor with it, and an io_context with a reactor asks
// epoll for events on every poll: here polling runs the queued handlers and nothing else.
class polled_executor {
public:
    polled_executor(boost::asio::io_context& run, boost::asio::execution_context& services) noexcept
        : run_(&run), services_(&services)
    {
    }

    boost::asio::execution_context& query(boost::asio::execution::context_t) const noexcept { return *services_; }
    static constexpr boost::asio::execution::blocking_t query(boost::asio::execution::blocking_t) noexcept
    {
        return boost::asio::execution::blocking.never;
    }
    polled_executor require(boost::asio::execution::blocking_t::never_t) const noexcept { return *this; }

    template <class Function>
    void execute(Function&& f) const
    {
        boost::asio::require(run_->get_executor(), boost::asio::execution::blocking.never)
            .execute(std::forward<Function>(f));
    }

    friend bool operator==(const polled_executor& a, const polled_executor& b) noexcept
    {
        return a.run_ == b.run_ && a.services_ == b.services_;
    }
    friend bool operator!=(const polled_executor& a, const polled_executor& b) noexcept { return !(a == b); }

private:
    boost::asio::io_context* run_;
    boost::asio::execution_context* services_;
};

} // namespace qsb
