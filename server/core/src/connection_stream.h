#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/associated_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/bind_executor.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <variant>

#include "qs/net/frame.h"
#include "asio_alias.h"
#include "web_stream.h"

namespace qs {

// The bytes under one client connection: a TCP socket, TLS over one, or a WebSocket over
// either (its messages turned into frames and back). Owned by its
// connection and used on the connection's event-loop thread only; at most one read and one
// write are in flight at a time.
class connection_stream {
public:
    explicit connection_stream(asio::ip::tcp::socket socket);
    // The server side of TLS with the shared context.
    connection_stream(asio::ip::tcp::socket socket, asio::ssl::context& tls);
    explicit connection_stream(web_stream web);

    asio::any_io_executor get_executor() { return tcp().get_executor(); }
    // The descriptor of a plain TCP stream, for sends that bypass the event loop; -1
    // under TLS and WebSocket, whose state one thread at a time may use.
    int plain_descriptor();
    // The client's address, "" when the socket no longer knows it.
    std::string peer_address();

    // TLS: the handshake, before any read or write; past limit the socket is closed and
    // the result is asio::error::timed_out. WebSocket: the answer to the upgrade request.
    // Plain: nothing to do.
    asio::awaitable<error_code> handshake(std::chrono::seconds limit);
    // What handshake() does, for the log: "TLS" or "WebSocket".
    const char* handshake_kind() const { return std::holds_alternative<web_stream>(stream_) ? "WebSocket" : "TLS"; }
    // Waits until bytes arrive and moves them into frames; may move none. Throws at the
    // end of the stream and on an error.
    asio::awaitable<void> read_into(frame_splitter& frames);
    // Plain TCP only (plain_descriptor() >= 0), without a coroutine: done(ec) runs on the
    // socket's executor once bytes, the end or an error may be read; frees frames' buffer
    // meanwhile when it holds nothing.
    template <class Handler>
    void async_wait_readable(frame_splitter& frames, Handler&& done)
    {
        frames.release_if_empty();
        std::get<asio::ip::tcp::socket>(stream_).async_wait(asio::ip::tcp::socket::wait_read,
                                                            std::forward<Handler>(done));
    }
    // Plain TCP only: moves what has arrived into frames (maybe nothing). Throws at the end
    // of the stream and on an error.
    void read_available(frame_splitter& frames);
    // asio::async_write of all of bytes; done runs on its own associated executor.
    template <class Handler>
    void async_write(asio::const_buffer bytes, Handler&& done)
    {
        writing_ = true;
        auto executor = asio::get_associated_executor(done, get_executor());
        auto finish = asio::bind_executor(
            executor, [this, done = std::forward<Handler>(done)](error_code ec, std::size_t n) mutable {
                writing_ = false;
                done(ec, n);
            });
        if (tls_stream* tls = tls_or_null())
            asio::async_write(*tls, bytes, std::move(finish));
        else if (auto* web = std::get_if<web_stream>(&stream_))
            web->async_write(bytes, std::move(finish));
        else
            asio::async_write(std::get<asio::ip::tcp::socket>(stream_), bytes, std::move(finish));
    }

    // Ends the read in flight and every later one.
    void stop_reading();
    // Closes the socket. With say_goodbye and TLS, first tells the peer the stream ends
    // (close_notify) without waiting: only when no read or write is in flight.
    void close(bool say_goodbye);

private:
    using tls_stream = asio::ssl::stream<asio::ip::tcp::socket>;

    asio::ip::tcp::socket& tcp();
    tls_stream* tls_or_null();
    void drain_tls(tls_stream& tls, frame_splitter& frames);

    // TLS state is large and rare: it lives apart, keeping an idle plain connection small.
    std::variant<asio::ip::tcp::socket, std::unique_ptr<tls_stream>, web_stream> stream_;
    bool writing_ = false; // an async_write is in flight
};

} // namespace qs
