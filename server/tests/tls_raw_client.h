#pragma once

#include <string>

#include "qs/net/frame.h"
#include "qs/net/socket.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace qs::test {

// A blocking TLS connection to 127.0.0.1 speaking frames by hand, for what kelclient
// never does: several frames in one write, an unfinished frame, a close_notify while
// a reply is due, the first request in the handshake's last write. Trusts ca_file only.
// Used by one thread.
class tls_raw_client {
public:
    // hold_last_flight: the handshake's last flight waits and leaves with the first
    // send(), in one TCP write; receives then give up after 10 s.
    tls_raw_client(int port, const std::string& ca_file, bool hold_last_flight = false);
    ~tls_raw_client();
    tls_raw_client(const tls_raw_client&) = delete;
    tls_raw_client& operator=(const tls_raw_client&) = delete;

    void send(const std::string& bytes);
    // The next frame; throws qs::exception(3) when the stream ends first.
    frame next();
    // Sends close_notify: no more requests come.
    void say_goodbye();
    // The server's close_notify has arrived.
    bool server_said_goodbye() const;

private:
    void release();
    void connect_holding_last_flight();
    void flush_held();

    socket sock_;
    SSL_CTX* ctx_;
    SSL* ssl_;
    bool holding_ = false; // what OpenSSL writes gathers in memory until flush_held()
    frame_splitter frames_;
};

} // namespace qs::test
