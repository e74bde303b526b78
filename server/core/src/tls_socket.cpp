#include "tls_socket.h"

#include <boost/asio/error.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/redirect_error.hpp>
#include <cerrno>
#include <new>
#include <openssl/err.h>
#include <openssl/ssl.h>

namespace qs {

// Records that arrive together are read together (read_ahead): one receive for many
// instead of two for each (header, then body).
tls_socket::tls_socket(asio::ip::tcp::socket socket, asio::ssl::context& context)
    : socket_(std::move(socket)), ssl_(::SSL_new(context.native_handle()))
{
    if (ssl_ == nullptr || ::SSL_set_fd(ssl_, socket_.native_handle()) != 1) {
        ::SSL_free(ssl_);
        ::ERR_clear_error();
        throw std::bad_alloc();
    }
    error_code ignored;
    socket_.non_blocking(true, ignored);
    ::SSL_set_mode(ssl_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_RELEASE_BUFFERS);
    ::SSL_set_read_ahead(ssl_, 1);
    ::SSL_set_accept_state(ssl_);
}

tls_socket::~tls_socket()
{
    ::SSL_free(ssl_);
}

error_code tls_socket::outcome(int rc, asio::socket_base::wait_type& wait)
{
    const int err = ::SSL_get_error(ssl_, rc);
    const unsigned long queued = ::ERR_get_error();
    ::ERR_clear_error();
    switch (err) {
    case SSL_ERROR_WANT_READ:
        wait = asio::socket_base::wait_read;
        return asio::error::would_block;
    case SSL_ERROR_WANT_WRITE:
        wait = asio::socket_base::wait_write;
        return asio::error::would_block;
    case SSL_ERROR_ZERO_RETURN:
        return asio::error::eof;
    case SSL_ERROR_SYSCALL:
        if (queued == 0)
            return errno != 0 ? error_code(errno, asio::error::get_system_category()) : asio::error::eof;
        break;
    default:
        break;
    }
    if (queued == 0)
        return asio::ssl::error::stream_truncated;
    return error_code(static_cast<int>(queued), asio::error::get_ssl_category());
}

asio::awaitable<error_code> tls_socket::handshake()
{
    for (;;) {
        ::ERR_clear_error();
        const int rc = ::SSL_do_handshake(ssl_);
        if (rc == 1)
            co_return error_code();
        asio::socket_base::wait_type wait{};
        const error_code ec = outcome(rc, wait);
        if (ec != asio::error::would_block)
            co_return ec;
        error_code waited;
        co_await socket_.async_wait(wait, asio::redirect_error(asio::use_awaitable, waited));
        if (waited)
            co_return waited;
    }
}

// Bytes OpenSSL read ahead (after the handshake, or past what the last read took) wake
// no wait on the socket: they are read at once. A part of a record is not enough.
asio::awaitable<void> tls_socket::wait_to_read()
{
    if (read_blocked_ || !holds_data())
        co_await socket_.async_wait(read_waits_for_, asio::use_awaitable);
}

std::size_t tls_socket::read_some(asio::mutable_buffer buffer, error_code& ec)
{
    ::ERR_clear_error();
    std::size_t n = 0;
    if (::SSL_read_ex(ssl_, buffer.data(), buffer.size(), &n) == 1) {
        ec = {};
        read_blocked_ = false;
        read_waits_for_ = asio::socket_base::wait_read;
        return n;
    }
    ec = outcome(0, read_waits_for_);
    read_blocked_ = ec == asio::error::would_block;
    return 0;
}

bool tls_socket::holds_data() const
{
    return ::SSL_has_pending(ssl_) == 1;
}

bool tls_socket::write_now(asio::const_buffer& rest, error_code& ec, asio::socket_base::wait_type& wait)
{
    while (rest.size() > 0) {
        ::ERR_clear_error();
        std::size_t n = 0;
        if (::SSL_write_ex(ssl_, rest.data(), rest.size(), &n) != 1) {
            ec = outcome(0, wait);
            if (ec != asio::error::would_block)
                return false;
            ec = {};
            return true;
        }
        rest += n;
    }
    return false;
}

void tls_socket::shutdown()
{
    ::ERR_clear_error();
    ::SSL_shutdown(ssl_);
    ::ERR_clear_error();
}

} // namespace qs
