#pragma once

#include <cstddef>
#include <string_view>

#include "qs/net/frame.h"

namespace qsb {

// Two blocking TCP sockets connected to each other over 127.0.0.1, with no Nagle
// delay; a receive or send that waits longer than the timeout fails.
class tcp_pair {
public:
    explicit tcp_pair(double timeout_s);
    ~tcp_pair();
    tcp_pair(const tcp_pair&) = delete;
    tcp_pair& operator=(const tcp_pair&) = delete;

    int a() const { return a_; }
    int b() const { return b_; }
    // Ends both directions, so a thread blocked on either side returns.
    void shut_down();

private:
    int a_ = -1, b_ = -1;
};

// Throws bench_error when the send fails.
void send_all(int fd, std::string_view bytes);
// Reads until a whole frame is there; false at the end of the stream. Throws
// bench_error on a failed or timed-out receive.
bool read_frame(int fd, qs::frame_splitter& in, qs::frame& out);

} // namespace qsb
