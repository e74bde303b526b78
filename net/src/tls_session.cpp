#include "tls_session.h"

#include <arpa/inet.h>
#include <climits>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include "qs/fault/exception.h"

namespace qs::detail {

namespace {

constexpr int connect_failed = 1;
constexpr int recv_failed = 3;
constexpr int send_failed = 4;

bool is_ip_address(const char* host)
{
    unsigned char addr[16];
    return ::inet_pton(AF_INET, host, addr) == 1 || ::inet_pton(AF_INET6, host, addr) == 1;
}

// Waits until fd is ready for events or wait_ms passes (-1: no limit); false on timeout.
bool wait_for(int fd, short events, int wait_ms)
{
    pollfd p{fd, events, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, wait_ms);
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
}

// A socket BIO's write that never raises SIGPIPE.
int send_without_signal(BIO* bio, const char* data, int size)
{
    ::BIO_clear_retry_flags(bio);
    const int fd = static_cast<int>(BIO_get_fd(bio, nullptr));
    const ssize_t n = ::send(fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    if (n < 0 && ::BIO_sock_should_retry(static_cast<int>(n)))
        BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

// The socket BIO with that write. Made once, kept for the process.
const BIO_METHOD* socket_method()
{
    static BIO_METHOD* const method = [] {
        const BIO_METHOD* plain = ::BIO_s_socket();
        BIO_METHOD* m = ::BIO_meth_new(BIO_TYPE_SOCKET, "socket without SIGPIPE");
        if (m == nullptr)
            return m;
        ::BIO_meth_set_write(m, send_without_signal);
        ::BIO_meth_set_read(m, ::BIO_meth_get_read(plain));
        ::BIO_meth_set_puts(m, ::BIO_meth_get_puts(plain));
        ::BIO_meth_set_ctrl(m, ::BIO_meth_get_ctrl(plain));
        ::BIO_meth_set_create(m, ::BIO_meth_get_create(plain));
        ::BIO_meth_set_destroy(m, ::BIO_meth_get_destroy(plain));
        return m;
    }();
    return method;
}

} // namespace

void tls_session::free_ctx::operator()(SSL_CTX* ctx) const
{
    ::SSL_CTX_free(ctx);
}

void tls_session::free_ssl::operator()(SSL* ssl) const
{
    ::SSL_free(ssl);
}

tls_session::tls_session(int fd, const char* host, const peer_check& check, tls_failure& failure)
    : fd_(fd), ctx_(::SSL_CTX_new(::TLS_client_method()))
{
    failure = tls_failure::other;
    if (!ctx_ || host == nullptr)
        throw exception(connect_failed);
    ::SSL_CTX_set_min_proto_version(ctx_.get(), TLS1_2_VERSION);
    ssl_.reset(::SSL_new(ctx_.get()));
    BIO* wire = socket_method() ? ::BIO_new(socket_method()) : nullptr;
    const int flags = ::fcntl(fd_, F_GETFL);
    if (!ssl_ || wire == nullptr || flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
        ::BIO_free(wire);
        throw exception(connect_failed);
    }
    BIO_set_fd(wire, fd_, BIO_NOCLOSE);
    ::SSL_set_bio(ssl_.get(), wire, wire);
    check_peer(host, check, failure);
    const int wait_ms = static_cast<int>(std::chrono::milliseconds(handshake_limit).count());
    if (retry([this] { return ::SSL_connect(ssl_.get()); }, wait_ms) <= 0) {
        failure = handshake_failure();
        throw exception(connect_failed);
    }
    failure = tls_failure::none;
}

// A certificate that was checked and refused says why; a handshake that failed before
// any check met something that is no TLS (or nothing within the limit).
tls_failure tls_session::handshake_failure() const
{
    const long verified = ::SSL_get_verify_result(ssl_.get());
    if (verified == X509_V_ERR_HOSTNAME_MISMATCH || verified == X509_V_ERR_IP_ADDRESS_MISMATCH)
        return tls_failure::wrong_name;
    if (verified != X509_V_OK)
        return tls_failure::untrusted;
    return tls_failure::not_tls;
}

tls_session::~tls_session() = default;

// The name for SNI, and with verify the trusted CAs and the name the certificate must bear.
void tls_session::check_peer(const char* host, const peer_check& check, tls_failure& failure)
{
    const bool ip = is_ip_address(host);
    if (!ip) // SSL_set_tlsext_host_name, without the macro's C cast
        ::SSL_ctrl(ssl_.get(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, const_cast<char*>(host));
    if (!check.verify)
        return;
    const int loaded = check.ca_file ? ::SSL_CTX_load_verify_locations(ctx_.get(), check.ca_file, nullptr)
                                     : ::SSL_CTX_set_default_verify_paths(ctx_.get());
    X509_VERIFY_PARAM* param = ::SSL_get0_param(ssl_.get());
    ::X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const int named = ip ? ::X509_VERIFY_PARAM_set1_ip_asc(param, host) : ::SSL_set1_host(ssl_.get(), host);
    if (loaded != 1 && check.ca_file != nullptr)
        failure = tls_failure::ca_file;
    if (loaded != 1 || named != 1)
        throw exception(connect_failed);
    ::SSL_set_verify(ssl_.get(), SSL_VERIFY_PEER, nullptr);
}

template <class Call>
int tls_session::retry(Call call, int wait_ms)
{
    for (;;) {
        short wanted;
        {
            std::lock_guard guard(lock_);
            ::ERR_clear_error();
            const int rc = call();
            if (rc > 0)
                return rc;
            const int error = ::SSL_get_error(ssl_.get(), rc);
            if (error == SSL_ERROR_WANT_READ) {
                wanted = POLLIN;
            } else if (error == SSL_ERROR_WANT_WRITE) {
                wanted = POLLOUT;
            } else {
                broken_ = broken_ || error == SSL_ERROR_SSL || error == SSL_ERROR_SYSCALL;
                return rc;
            }
        }
        if (!wait_for(fd_, wanted, wait_ms))
            return -1;
    }
}

void tls_session::send(const char* data, std::size_t size)
{
    while (size > 0) {
        const int chunk = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
        const int n = retry([&] { return ::SSL_write(ssl_.get(), data, chunk); }, -1);
        if (n <= 0)
            throw exception(send_failed);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::size_t tls_session::recv(char* into, std::size_t room)
{
    const int chunk = static_cast<int>(std::min<std::size_t>(room, INT_MAX));
    const int n = retry([&] { return ::SSL_read(ssl_.get(), into, chunk); }, -1);
    if (n <= 0)
        throw exception(recv_failed);
    return static_cast<std::size_t>(n);
}

void tls_session::say_goodbye()
{
    std::lock_guard guard(lock_);
    if (broken_ || !::SSL_is_init_finished(ssl_.get()))
        return;
    ::ERR_clear_error();
    ::SSL_shutdown(ssl_.get());
}

void tls_session::forget_thread_state()
{
    ::OPENSSL_thread_stop();
}

} // namespace qs::detail
