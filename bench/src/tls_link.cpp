#include "tls_link.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "bench_error.h"

namespace qsb {

namespace {

// One context for the process: no certificate check, writes of part of a buffer.
SSL_CTX* client_context()
{
    static SSL_CTX* const ctx = [] {
        SSL_CTX* c = ::SSL_CTX_new(::TLS_client_method());
        if (c == nullptr)
            throw bench_error("TLS: no client context");
        ::SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
        ::SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
        ::SSL_CTX_set_mode(c, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        return c;
    }();
    return ctx;
}

int clamp_int(std::size_t n)
{
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

} // namespace

tls_link::tls_link(int fd) : ssl_(::SSL_new(client_context()))
{
    if (ssl_ == nullptr || ::SSL_set_fd(ssl_, fd) != 1) {
        ::SSL_free(ssl_);
        throw bench_error("TLS: cannot set up a connection");
    }
    ::SSL_set_connect_state(ssl_);
}

tls_link::~tls_link()
{
    ::SSL_free(ssl_);
}

tls_link::status tls_link::outcome(int rc)
{
    switch (::SSL_get_error(ssl_, rc)) {
    case SSL_ERROR_WANT_READ:
        return status::want_read;
    case SSL_ERROR_WANT_WRITE:
        return status::want_write;
    case SSL_ERROR_ZERO_RETURN:
        return status::closed;
    default:
        break;
    }
    const unsigned long code = ::ERR_get_error();
    ::ERR_clear_error();
    if (code == 0) {
        failure_ = rc == 0 || errno == 0 ? "the server closed the connection" : std::strerror(errno);
        return status::failed;
    }
    char text[256];
    ::ERR_error_string_n(code, text, sizeof text);
    failure_ = text;
    return status::failed;
}

tls_link::status tls_link::handshake()
{
    ::ERR_clear_error();
    const int rc = ::SSL_do_handshake(ssl_);
    return rc == 1 ? status::done : outcome(rc);
}

tls_link::status tls_link::read(char* buf, std::size_t size, std::size_t& n)
{
    ::ERR_clear_error();
    const int rc = ::SSL_read(ssl_, buf, clamp_int(size));
    n = rc > 0 ? static_cast<std::size_t>(rc) : 0;
    return rc > 0 ? status::done : outcome(rc);
}

tls_link::status tls_link::write(const char* data, std::size_t size, std::size_t& n)
{
    ::ERR_clear_error();
    const int rc = ::SSL_write(ssl_, data, clamp_int(size));
    n = rc > 0 ? static_cast<std::size_t>(rc) : 0;
    return rc > 0 ? status::done : outcome(rc);
}

} // namespace qsb
