#pragma once

#include <memory>

#include "qs/net/socket.h"
#include "qs/net/tls_failure.h"

namespace qs {

namespace detail {
struct client_channel;
class tls_session;
} // namespace detail

// Client end of the command channel. connect() starts a daemon thread that files every
// reply frame; exec() sends one command and waits for the reply with the same id.
// Any number of threads may call exec() on one connected kelclient at once.
//
// Ownership: the connection and reply list (and over TLS the TLS session) live in a
// channel shared by the object, its copies and the daemon thread; the last of them to go
// frees it. The descriptor is
// released once: by close() after the daemon thread has stopped using it, or by the
// channel when the last owner goes. Destroying a connected kelclient without close()
// leaves the connection open; its daemon ends when the peer closes.
class kelclient : public socket {
public:
    kelclient();
    // Shares the connection and the reply list of other.
    kelclient(const kelclient& other);
    kelclient& operator=(const kelclient&) = delete;
    ~kelclient() override;

    // Connects and starts the daemon thread; a failure (code 1) starts nothing.
    void connect(const char* host, int port);
    void connect(const sockaddr_in& addr);
    // The same over TLS 1.2 or newer. The server's certificate must chain to a CA in
    // ca_file (PEM), or in the system's store when ca_file is null, and name host (a
    // DNS name or an IP address). The socket turns non-blocking: use it through exec()
    // only. A failed handshake or check throws 1 and starts nothing.
    void connect_tls(const char* host, int port, const char* ca_file = nullptr);
    // TLS that takes whatever certificate the server shows: the bytes are hidden from
    // onlookers, not from whoever answers in the server's place.
    void connect_tls_unverified(const char* host, int port);
    // Why the last connect_tls or connect_tls_unverified on this object failed in TLS;
    // none when it succeeded or failed before TLS (errno then says why).
    tls_failure last_tls_failure() const noexcept { return tls_failure_; }

    // Sends cmd as one frame and copies its reply into result the way strncpy does
    // (at most size bytes; not terminated when the reply has size bytes or more).
    // Throws 4 when the frame cannot be sent, 3 when the connection ends first.
    void exec(const char* cmd, char* result, int size);

    // Ends the connection: wakes and waits out the daemon thread, fails every waiting
    // exec, then releases the descriptor. Sets -1 in this object.
    void close();

private:
    static int get_cid();
    void start_daemon(std::shared_ptr<detail::tls_session> tls = nullptr);

    std::shared_ptr<detail::client_channel> channel_;
    tls_failure tls_failure_ = tls_failure::none; // of this object's last TLS connect; its caller's thread
};

} // namespace qs
