#include "connection_stream.h"

#include <boost/asio/error.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <memory>
#include <vector>

namespace qs {

namespace {

constexpr std::size_t most_per_read = std::size_t{64} * 1024; // one read takes at most this much

} // namespace

// Non-blocking at once: plain reads and the goodbye of TLS never wait.
connection_stream::connection_stream(asio::ip::tcp::socket socket) : stream_(std::move(socket))
{
    error_code ignored;
    tcp().non_blocking(true, ignored);
}

connection_stream::connection_stream(asio::ip::tcp::socket socket, asio::ssl::context& tls)
    : stream_(std::make_unique<tls_stream>(std::move(socket), tls))
{
    error_code ignored;
    tcp().non_blocking(true, ignored);
}

connection_stream::connection_stream(web_stream web) : stream_(std::move(web)) {}

std::string connection_stream::peer_address()
{
    error_code ec;
    const auto at = tcp().remote_endpoint(ec);
    return ec ? std::string() : at.address().to_string();
}

int connection_stream::plain_descriptor()
{
    auto* plain = std::get_if<asio::ip::tcp::socket>(&stream_);
    return plain != nullptr ? plain->native_handle() : -1;
}

connection_stream::tls_stream* connection_stream::tls_or_null()
{
    auto* tls = std::get_if<std::unique_ptr<tls_stream>>(&stream_);
    return tls != nullptr ? tls->get() : nullptr;
}

asio::ip::tcp::socket& connection_stream::tcp()
{
    if (auto* plain = std::get_if<asio::ip::tcp::socket>(&stream_))
        return *plain;
    if (auto* web = std::get_if<web_stream>(&stream_))
        return web->tcp();
    return std::get<std::unique_ptr<tls_stream>>(stream_)->next_layer();
}

// The timer's handler may run after the handshake is over: it touches the stream only
// while the handshake (and so its connection) still waits.
asio::awaitable<error_code> connection_stream::handshake(std::chrono::seconds limit)
{
    if (auto* web = std::get_if<web_stream>(&stream_))
        co_return co_await web->accept(limit);
    tls_stream* tls = tls_or_null();
    if (tls == nullptr)
        co_return error_code();
    struct watch {
        bool over = false;
        bool fired = false;
    };
    auto w = std::make_shared<watch>();
    asio::steady_timer timer(co_await asio::this_coro::executor, limit);
    timer.async_wait([this, w](error_code ec) {
        if (ec || w->over)
            return;
        w->fired = true;
        error_code ignored;
        tcp().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        tcp().cancel(ignored);
    });
    error_code ec;
    co_await tls->async_handshake(asio::ssl::stream_base::server, asio::redirect_error(asio::use_awaitable, ec));
    w->over = true;
    timer.cancel();
    co_return w->fired ? asio::error::timed_out : ec;
}

// Plain: waits until the socket is readable, then reads what it has into a buffer of
// the thread's own, so that between reads an idle connection holds no buffer. TLS keeps
// buffers of its own anyway and decrypts straight into the frame buffer: one record per
// wait, then what else has arrived.
asio::awaitable<void> connection_stream::read_into(frame_splitter& frames)
{
    if (auto* web = std::get_if<web_stream>(&stream_)) {
        co_await web->read_into(frames);
        co_return;
    }
    if (tls_stream* tls = tls_or_null()) {
        std::size_t room = 0;
        char* at = frames.prepare(room);
        frames.commit(co_await tls->async_read_some(asio::buffer(at, room), asio::use_awaitable));
        drain_tls(*tls, frames);
        co_return;
    }
    auto& socket = std::get<asio::ip::tcp::socket>(stream_);
    frames.release_if_empty();
    co_await socket.async_wait(asio::ip::tcp::socket::wait_read, asio::use_awaitable);
    read_available(frames);
}

void connection_stream::read_available(frame_splitter& frames)
{
    thread_local std::vector<char> chunk(most_per_read);
    error_code ec;
    const std::size_t n = std::get<asio::ip::tcp::socket>(stream_).read_some(asio::buffer(chunk), ec);
    if (ec == asio::error::would_block)
        return;
    if (ec)
        throw system_error(ec);
    frames.feed(chunk.data(), n);
}

// Takes the records that have arrived meanwhile without waiting (the socket is
// non-blocking), so that frames sent together are answered together. Only while no write
// is in flight: a read may have to send (an alert), and a send must not cut into a
// write. Leaves an error for the next read to meet again.
void connection_stream::drain_tls(tls_stream& tls, frame_splitter& frames)
{
    error_code ec;
    for (std::size_t taken = 0; !writing_ && !ec && taken < most_per_read;) {
        std::size_t room = 0;
        char* at = frames.prepare(room);
        const std::size_t n = tls.read_some(asio::buffer(at, std::min(room, most_per_read - taken)), ec);
        frames.commit(n);
        taken += n;
    }
}

void connection_stream::stop_reading()
{
    error_code ignored;
    tcp().shutdown(asio::ip::tcp::socket::shutdown_receive, ignored);
    tcp().cancel(ignored);
}

void connection_stream::close(bool say_goodbye)
{
    error_code ignored;
    if (tls_stream* tls = tls_or_null(); tls && say_goodbye)
        tls->shutdown(ignored); // the socket is non-blocking: sends close_notify, never waits for the reply
    tcp().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    tcp().close(ignored);
}

} // namespace qs
