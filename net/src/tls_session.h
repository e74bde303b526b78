#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>

#include "qs/net/tls_failure.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace qs::detail {

// The client side of TLS 1.2 or newer over a connected socket, which it turns
// non-blocking. The daemon thread receives while senders send: lock_ guards the SSL
// object, and no call holds it while waiting on the socket. Owned by a client_channel
// and the daemon thread; the descriptor stays the channel's.
class tls_session {
public:
    struct peer_check {
        bool verify = true;            // false: any certificate is taken
        const char* ca_file = nullptr; // PEM CA certificates; null: the system's store
    };

    // Handshakes on fd, connected to host. Throws qs::exception(1) when the handshake
    // fails or takes longer than handshake_limit, and with verify when the server's
    // certificate does not chain to a trusted CA or does not name host; failure then
    // says which.
    tls_session(int fd, const char* host, const peer_check& check, tls_failure& failure);
    ~tls_session();
    tls_session(const tls_session&) = delete;
    tls_session& operator=(const tls_session&) = delete;

    // Sends all size bytes; throws qs::exception(4).
    void send(const char* data, std::size_t size);
    // Receives at least one byte; throws qs::exception(3) at the end of the stream.
    std::size_t recv(char* into, std::size_t room);
    // Tells the server the stream ends (close_notify) without waiting for its answer.
    void say_goodbye();
    // Frees OpenSSL's state of the calling thread (its error queue) before the thread
    // ends: a detached thread may outlive the process's clean-up otherwise.
    static void forget_thread_state();

    static constexpr std::chrono::seconds handshake_limit{30};

private:
    // Runs call (an SSL call on ssl_) under the lock until it succeeds, waiting on the
    // socket between tries without the lock; its result, <= 0 when it failed.
    template <class Call>
    int retry(Call call, int wait_ms);
    void check_peer(const char* host, const peer_check& check, tls_failure& failure);
    tls_failure handshake_failure() const;

    struct free_ctx {
        void operator()(SSL_CTX* ctx) const;
    };
    struct free_ssl {
        void operator()(SSL* ssl) const;
    };

    int fd_;
    std::unique_ptr<SSL_CTX, free_ctx> ctx_;
    std::mutex lock_; // guards ssl_ and broken_
    std::unique_ptr<SSL, free_ssl> ssl_;
    bool broken_ = false; // a fatal error: no goodbye
};

} // namespace qs::detail
