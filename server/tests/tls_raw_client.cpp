#include "tls_raw_client.h"

#include <csignal>
#include <openssl/ssl.h>
#include <stdexcept>

namespace qs::test {

tls_raw_client::tls_raw_client(int port, const std::string& ca_file)
    : ctx_(::SSL_CTX_new(::TLS_client_method())), ssl_(::SSL_new(ctx_))
{
    std::signal(SIGPIPE, SIG_IGN);  // OpenSSL sends with write(): a closed peer fails the write instead
    ::SSL_CTX_load_verify_locations(ctx_, ca_file.c_str(), nullptr);
    ::SSL_set_verify(ssl_, SSL_VERIFY_PEER, nullptr);
    sock_.create(0);
    sock_.connect("127.0.0.1", port);
    ::SSL_set_fd(ssl_, sock_.handle());
    if (::SSL_connect(ssl_) != 1) {
        release();
        throw std::runtime_error("TLS handshake failed");
    }
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
