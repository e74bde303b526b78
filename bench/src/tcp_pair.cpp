#include "tcp_pair.h"

#include <cerrno>
#include <cstring>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "bench_error.h"
#include "endpoint.h"
#include "qs/fault/exception.h"

namespace qsb {

namespace {

[[noreturn]] void fail(const char* what)
{
    throw bench_error(std::string("loopback ") + what + ": " + std::strerror(errno));
}

void tune(int fd, double timeout_s)
{
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout_s);
    tv.tv_usec = static_cast<suseconds_t>((timeout_s - static_cast<double>(tv.tv_sec)) * 1e6);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

} // namespace

tcp_pair::tcp_pair(double timeout_s)
{
    int port = 0;
    const int listener = bind_free_loopback(port);
    const endpoint ep = loopback_endpoint("127.0.0.1", port);
    a_ = ::listen(listener, 1) == 0 ? ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    if (a_ >= 0 && ::connect(a_, reinterpret_cast<const sockaddr*>(&ep.addr), sizeof ep.addr) == 0)
        b_ = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    const int err = errno;
    ::close(listener);
    if (b_ < 0) {
        if (a_ >= 0)
            ::close(a_);
        errno = err;
        fail("connection");
    }
    tune(a_, timeout_s);
    tune(b_, timeout_s);
}

tcp_pair::~tcp_pair()
{
    ::close(a_);
    ::close(b_);
}

void tcp_pair::shut_down()
{
    ::shutdown(a_, SHUT_RDWR);
    ::shutdown(b_, SHUT_RDWR);
}

void send_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail("send");
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

namespace {

// The splitter's next frame; a frame beyond its cap is a bench_error as any other failure.
bool next_frame(qs::frame_splitter& in, qs::frame& out)
{
    try {
        return in.next(out);
    } catch (const qs::exception&) {
        throw bench_error("loopback: a frame is longer than " + std::to_string(qs::max_frame_size) + " bytes");
    }
}

} // namespace

bool read_frame(int fd, qs::frame_splitter& in, qs::frame& out)
{
    char buf[64 * 1024];
    while (!next_frame(in, out)) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0)
            return false;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail("receive");
        in.feed(buf, static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace qsb
