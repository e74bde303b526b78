#include "web_stream.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <string_view>

#include "corked_stream.h"
#include "qs/server/logic/log.h"
#include "web_policy.h"
#include "web_upgrade.h"
#include "ws_message.h"

namespace qs {

namespace beast = boost::beast;
namespace websocket = beast::websocket;

void web_upgrade_deleter::operator()(web_upgrade* up) const noexcept
{
    delete up;
}

namespace {

constexpr std::size_t most_per_message = std::size_t{64} * 1024; // past it: close 1009

struct web_times {
    std::chrono::seconds ping;       // between pings
    std::chrono::seconds unfinished; // the most a begun message may take
};

} // namespace

struct web_stream::impl {
    virtual ~impl() = default;
    virtual asio::ip::tcp::socket& tcp() = 0;
    virtual asio::awaitable<error_code> accept(std::chrono::seconds limit) = 0;
    virtual asio::awaitable<void> read_into(frame_splitter& frames) = 0;
    virtual void async_write(asio::const_buffer bytes, std::function<void(error_code, std::size_t)> done) = 0;
};

namespace {

// The WebSocket over Next: a TCP socket or a TLS stream.
template <class Next>
class websocket_over final : public web_stream::impl {
public:
    websocket_over(Next next, beast::http::request<beast::http::empty_body> request, web_times times)
        : ws_(std::move(next)), request_(std::move(request)), times_(times)
    {
    }

    asio::ip::tcp::socket& tcp() override { return beast::get_lowest_layer(ws_); }

    // Beast's timer bounds the handshakes; the pings are ours (ping_timer_).
    asio::awaitable<error_code> accept(std::chrono::seconds limit) override
    {
        ws_.set_option(websocket::stream_base::timeout{limit, websocket::stream_base::none(), false});
        ws_.set_option(websocket::stream_base::decorator(
            [host = std::string(request_[beast::http::field::host])](websocket::response_type& res) {
                for (auto& h : web_policy_headers(host, "no-store"))
                    res.set(h.name, h.value);
            }));
        ws_.control_callback([this](websocket::frame_type, beast::string_view) { heard_ = true; });
        ws_.read_message_max(most_per_message);
        ws_.auto_fragment(false);
        ws_.text(true);
        error_code ec;
        co_await ws_.async_accept(request_, asio::redirect_error(asio::use_awaitable, ec));
        request_ = {};
        if (!ec)
            arm_ping();
        co_return ec;
    }

    // The first byte of the message goes into a buffer of one byte: while the connection
    // idles, it holds no read buffer of its own beyond Beast's.
    asio::awaitable<void> read_into(frame_splitter& frames) override
    {
        frames.release_if_empty();
        beast::flat_buffer message; // read_message_max bounds it
        error_code ec;
        co_await ws_.async_read_some(message, 1, asio::redirect_error(asio::use_awaitable, ec));
        if (!ec && !ws_.is_message_done()) {
            watch_unfinished();
            co_await ws_.async_read(message, asio::redirect_error(asio::use_awaitable, ec));
            watching_unfinished_ = false;
            unfinished_timer_.cancel();
        }
        if (ec)
            throw system_error(ec);
        heard_ = true;
        if (ws_.got_binary())
            co_await refuse(websocket::close_code::unknown_data, "binary message");
        const std::string_view text(static_cast<const char*>(message.data().data()), message.size());
        auto request = parse_ws_request(text);
        if (auto* why = std::get_if<std::string>(&request))
            co_await refuse(websocket::close_code::bad_payload, *why);
        const auto& r = std::get<ws_request>(request);
        const std::string bytes = encode_frame(r.id, r.cmd); // the text up to a NUL, as over TCP
        frames.feed(bytes.data(), bytes.size());
    }

    void async_write(asio::const_buffer bytes, std::function<void(error_code, std::size_t)> done) override
    {
        asio::co_spawn(ws_.get_executor(), write_replies(bytes),
                       [done = std::move(done), n = bytes.size()](const std::exception_ptr& e, error_code ec) {
                           done(e ? asio::error::fault : ec, n);
                       });
    }

private:
    // Closes with code and why, then ends the reading.
    asio::awaitable<void> refuse(websocket::close_code code, const std::string& why)
    {
        log_warning("Closed a WebSocket connection: " + why + ".");
        error_code ec;
        co_await ws_.async_close(websocket::close_reason(code, why), asio::redirect_error(asio::use_awaitable, ec));
        throw system_error(websocket::error::closed);
    }

    // A ping every times_.ping; anything heard from the peer answers the pings before it. The
    // socket closes when two went unanswered, which ends the pending read.
    void arm_ping()
    {
        ping_timer_.expires_after(times_.ping);
        ping_timer_.async_wait([this, alive = std::weak_ptr<void>(alive_)](error_code ec) {
            if (!ec && !alive.expired()) // a wait that ended just before the stream went
                ping_due();
        });
    }

    void ping_due()
    {
        if (heard_)
            unanswered_ = 0;
        heard_ = false;
        if (unanswered_ >= 2) {
            log_warning("Closed a WebSocket connection that did not answer its pings.");
            error_code ignored;
            tcp().close(ignored);
            return;
        }
        if (!pinging_) {
            pinging_ = true;
            ++unanswered_;
            ws_.async_ping({}, [this, alive = std::weak_ptr<void>(alive_)](error_code) {
                if (!alive.expired())
                    pinging_ = false;
            });
        }
        arm_ping();
    }

    void watch_unfinished()
    {
        watching_unfinished_ = true;
        unfinished_timer_.expires_after(times_.unfinished);
        unfinished_timer_.async_wait([this, alive = std::weak_ptr<void>(alive_)](error_code ec) {
            if (ec || alive.expired() || !watching_unfinished_)
                return;
            log_warning("Closed a connection that left a frame unfinished.");
            error_code ignored;
            tcp().close(ignored);
        });
    }

    // One message per reply frame, all sent together.
    asio::awaitable<error_code> write_replies(asio::const_buffer bytes)
    {
        std::string_view rest(static_cast<const char*>(bytes.data()), bytes.size());
        ws_.next_layer().cork();
        error_code ec;
        while (!ec && rest.size() > 4) {
            const std::string message = next_ws_reply(rest);
            co_await ws_.async_write(asio::buffer(message), asio::redirect_error(asio::use_awaitable, ec));
        }
        const error_code sent = co_await ws_.next_layer().uncork();
        co_return ec ? ec : sent;
    }

    websocket::stream<corked_stream<Next>> ws_;
    beast::http::request<beast::http::empty_body> request_; // until accepted
    const web_times times_;
    asio::steady_timer ping_timer_{ws_.get_executor()};
    asio::steady_timer unfinished_timer_{ws_.get_executor()}; // runs while a message is incomplete
    int unanswered_ = 0;                                      // pings sent since the peer was last heard
    bool heard_ = false;                                      // a message or control frame came since the last tick
    bool pinging_ = false;                                    // a ping is being written
    bool watching_unfinished_ = false;
    std::shared_ptr<void> alive_ = std::make_shared<char>(); // expires with this, for late handlers
};

std::unique_ptr<web_stream::impl> make_impl(web_upgrade& up, web_times times)
{
    if (auto* tls = std::get_if<std::unique_ptr<web_upgrade::tls_stream>>(&up.stream))
        return std::make_unique<websocket_over<web_upgrade::tls_stream>>(std::move(**tls), std::move(up.request),
                                                                         times);
    return std::make_unique<websocket_over<asio::ip::tcp::socket>>(
        std::get<asio::ip::tcp::socket>(std::move(up.stream)), std::move(up.request), times);
}

} // namespace

web_stream::web_stream(web_upgrade_ptr upgrade, std::chrono::seconds ping, std::chrono::seconds unfinished)
    : impl_(make_impl(*upgrade, {ping, unfinished}))
{
}
web_stream::web_stream(web_stream&&) noexcept = default;
web_stream& web_stream::operator=(web_stream&&) noexcept = default;
web_stream::~web_stream() = default;

asio::ip::tcp::socket& web_stream::tcp()
{
    return impl_->tcp();
}

asio::awaitable<error_code> web_stream::accept(std::chrono::seconds limit)
{
    return impl_->accept(limit);
}

asio::awaitable<void> web_stream::read_into(frame_splitter& frames)
{
    return impl_->read_into(frames);
}

void web_stream::async_write(asio::const_buffer bytes, std::function<void(error_code, std::size_t)> done)
{
    impl_->async_write(bytes, std::move(done));
}

} // namespace qs
