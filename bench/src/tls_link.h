#pragma once

#include <cstddef>
#include <string>

typedef struct ssl_st SSL;

namespace qsb {

// The client side of TLS 1.2 or newer over a non-blocking socket, taking whatever
// certificate the server shows (the benchmark talks to loopback only). Each call does
// what it can without waiting and says what it waits for. Owned by one client, used on
// its event loop's thread.
class tls_link {
public:
    enum class status { done, want_read, want_write, closed, failed };

    explicit tls_link(int fd);
    ~tls_link();
    tls_link(const tls_link&) = delete;
    tls_link& operator=(const tls_link&) = delete;

    status handshake();
    // done with n > 0 bytes read into buf.
    status read(char* buf, std::size_t size, std::size_t& n);
    // done with n > 0 bytes of data taken; on a retry after want_*, data must start with
    // the bytes of the call before (it may have moved and grown).
    status write(const char* data, std::size_t size, std::size_t& n);
    // What failed, in OpenSSL's words.
    const std::string& failure() const { return failure_; }

private:
    status outcome(int rc);

    SSL* ssl_;
    std::string failure_;
};

} // namespace qsb
