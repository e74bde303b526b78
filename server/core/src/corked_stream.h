#pragma once

#include <boost/asio/append.hpp>
#include <boost/asio/async_result.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/role.hpp>
#include <boost/beast/websocket/teardown.hpp>
#include <string>
#include <utility>

#include "asio_alias.h"

namespace qs {

// The stream under a WebSocket, which can hold writes back: while corked, what is written
// gathers in memory and counts as written at once; uncorking sends it all, and whatever
// gathers meanwhile, in as few writes as the socket takes. So the replies to commands that
// came together leave in one send, as over TCP, instead of one send per message. Corked,
// Beast's own frames (pongs, a close) join the queue in their order; uncorked, every write
// goes straight through. Used on its connection's event loop only; cork and uncork by the
// one writer of messages.
template <class Next>
class corked_stream {
public:
    using executor_type = typename Next::executor_type;

    explicit corked_stream(Next next) : next_(std::move(next)) {}

    executor_type get_executor() { return next_.get_executor(); }
    Next& next_layer() { return next_; }
    const Next& next_layer() const { return next_; }

    template <class Buffers, class Token>
    auto async_read_some(const Buffers& buffers, Token&& token)
    {
        return next_.async_read_some(buffers, std::forward<Token>(token));
    }

    template <class Buffers, class Token>
    auto async_write_some(const Buffers& buffers, Token&& token)
    {
        return asio::async_initiate<Token, void(error_code, std::size_t)>(
            [this](auto handler, const Buffers& b) {
                if (!corked_)
                    return next_.async_write_some(b, std::move(handler));
                const std::size_t n = asio::buffer_size(b);
                const std::size_t at = held_.size();
                held_.resize(at + n);
                asio::buffer_copy(asio::buffer(held_.data() + at, n), b);
                asio::post(next_.get_executor(), asio::append(std::move(handler), error_code(), n));
            },
            token, buffers);
    }

    void cork() { corked_ = true; }

    // Writes what gathered, then goes straight through again. The buffers go back to the
    // allocator: an idle connection holds none.
    asio::awaitable<error_code> uncork()
    {
        error_code ec;
        while (!ec && !held_.empty()) {
            std::string sending;
            sending.swap(held_);
            co_await asio::async_write(next_, asio::buffer(sending), asio::redirect_error(asio::use_awaitable, ec));
        }
        std::string().swap(held_);
        corked_ = false;
        co_return ec;
    }

private:
    Next next_;
    std::string held_; // written while corked, not sent yet
    bool corked_ = false;
};

// Closing the WebSocket closes what is under it.
template <class Next>
void teardown(boost::beast::role_type role, corked_stream<Next>& s, error_code& ec)
{
    using boost::beast::websocket::teardown;
    teardown(role, s.next_layer(), ec);
}

template <class Next, class Handler>
void async_teardown(boost::beast::role_type role, corked_stream<Next>& s, Handler&& handler)
{
    using boost::beast::websocket::async_teardown;
    async_teardown(role, s.next_layer(), std::forward<Handler>(handler));
}

} // namespace qs
