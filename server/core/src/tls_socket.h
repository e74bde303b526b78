#pragma once

#include <boost/asio/append.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <cstddef>
#include <utility>

#include "asio_alias.h"

typedef struct ssl_st SSL;

namespace qs {

// The server side of TLS with OpenSSL reading and writing the socket's descriptor itself
// (non-blocking), and Asio only waiting until the socket is readable or writable.
// Asio's ssl::stream holds two 17 KiB buffers of its own and a BIO pair of two more for
// as long as the connection lives; this holds OpenSSL's buffers only while a record is
// under way (SSL_MODE_RELEASE_BUFFERS), so an idle connection keeps just its keys and
// state. Owned by one connection_stream and used on its event loop only; at most one
// read and one write in flight, which may interleave.
class tls_socket {
public:
    // Throws std::bad_alloc when OpenSSL cannot make the connection's state.
    tls_socket(asio::ip::tcp::socket socket, asio::ssl::context& context);
    ~tls_socket();
    tls_socket(const tls_socket&) = delete;
    tls_socket& operator=(const tls_socket&) = delete;

    asio::ip::tcp::socket& next_layer() { return socket_; }

    asio::awaitable<error_code> handshake();
    // Waits until a read may bring something: at once when OpenSSL holds received bytes,
    // else until the socket is ready for what the last read waited on. Throws when the
    // wait is cancelled.
    asio::awaitable<void> wait_to_read();
    // Reads what is there without waiting: would_block when nothing is.
    std::size_t read_some(asio::mutable_buffer buffer, error_code& ec);
    // OpenSSL holds received bytes not read yet (perhaps only part of a record).
    bool holds_data() const;
    // Writes all of bytes, then done(ec, bytes written) runs on the socket's executor.
    template <class Handler>
    void async_write(asio::const_buffer bytes, Handler&& done)
    {
        write_op<std::decay_t<Handler>>{*this, bytes, bytes.size(), std::forward<Handler>(done)}(error_code());
    }
    // Sends close_notify if the socket takes it now; never waits.
    void shutdown();

private:
    template <class Handler>
    struct write_op {
        tls_socket& s;
        asio::const_buffer rest;
        std::size_t total;
        Handler done;

        void operator()(error_code ec)
        {
            asio::socket_base::wait_type wait{};
            if (!ec && s.write_now(rest, ec, wait))
                return s.socket_.async_wait(wait, std::move(*this));
            const std::size_t written = total - rest.size();
            asio::post(s.socket_.get_executor(), asio::append(std::move(done), ec, written));
        }
    };

    // Writes what the socket takes; true when the rest must wait for `wait`.
    bool write_now(asio::const_buffer& rest, error_code& ec, asio::socket_base::wait_type& wait);
    // What OpenSSL's result rc means: would_block with what to wait for, or the failure.
    error_code outcome(int rc, asio::socket_base::wait_type& wait);

    asio::ip::tcp::socket socket_;
    SSL* ssl_;
    // The last read found no whole record, and what it waits for.
    bool read_blocked_ = false;
    asio::socket_base::wait_type read_waits_for_ = asio::socket_base::wait_read;
};

} // namespace qs
