#include "tls_raw_client.h"

#include <csignal>
#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <stdexcept>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

namespace qs::test {

tls_raw_client::tls_raw_client(int port, const std::string& ca_file, bool hold_last_flight)
    : ctx_(::SSL_CTX_new(::TLS_client_method())), ssl_(::SSL_new(ctx_)), holding_(hold_last_flight)
{
    std::signal(SIGPIPE, SIG_IGN); // OpenSSL sends with write(): a closed peer fails the write instead
    ::SSL_CTX_load_verify_locations(ctx_, ca_file.c_str(), nullptr);
    ::SSL_set_verify(ssl_, SSL_VERIFY_PEER, nullptr);
    sock_.create(0);
    sock_.connect("127.0.0.1", port);
    if (holding_) {
        connect_holding_last_flight();
        return;
    }
    ::SSL_set_fd(ssl_, sock_.handle());
    if (::SSL_connect(ssl_) != 1) {
        release();
        throw std::runtime_error("TLS handshake failed");
    }
}

// Reads from the socket, writes into memory: each flight leaves when the handshake
// waits for an answer, but the last one (Finished) stays for the first send().
void tls_raw_client::connect_holding_last_flight()
{
    const int fd = sock_.handle();
    timeval ten_seconds{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &ten_seconds, sizeof ten_seconds);
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK); // the handshake reads only what has come
    ::SSL_set_bio(ssl_, ::BIO_new_socket(fd, BIO_NOCLOSE), ::BIO_new(::BIO_s_mem()));
    for (;;) {
        const int rc = ::SSL_connect(ssl_);
        if (rc == 1)
            break;
        if (::SSL_get_error(ssl_, rc) == SSL_ERROR_WANT_READ) {
            flush_held();
            pollfd readable{fd, POLLIN, 0};
            if (::poll(&readable, 1, 10'000) == 1)
                continue;
        }
        release();
        throw std::runtime_error("TLS handshake failed");
    }
    ::fcntl(fd, F_SETFL, flags);
}

void tls_raw_client::flush_held()
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(::SSL_get_wbio(ssl_), &data);
    if (size > 0 && sock_.send(data, static_cast<int>(size)) != static_cast<int>(size))
        throw exception(4);
    (void)BIO_reset(::SSL_get_wbio(ssl_));
}

tls_raw_client::~tls_raw_client()
{
    release();
}

void tls_raw_client::release()
{
    ::SSL_free(ssl_);
    ::SSL_CTX_free(ctx_);
    sock_.close();
}

void tls_raw_client::send(const std::string& bytes)
{
    if (::SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) != static_cast<int>(bytes.size()))
        throw exception(4);
    if (holding_)
        flush_held();
}

frame tls_raw_client::next()
{
    frame out;
    while (!frames_.next(out)) {
        std::size_t room = 0;
        char* at = frames_.prepare(room);
        const int n = ::SSL_read(ssl_, at, static_cast<int>(room));
        if (n <= 0)
            throw exception(3);
        frames_.commit(static_cast<std::size_t>(n));
    }
    return out;
}

void tls_raw_client::say_goodbye()
{
    ::SSL_shutdown(ssl_);
}

bool tls_raw_client::server_said_goodbye() const
{
    return (::SSL_get_shutdown(ssl_) & SSL_RECEIVED_SHUTDOWN) != 0;
}

} // namespace qs::test
