#include "fake_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include "qs/net/frame.h"
#include "tcp_pair.h"

namespace qsb::test {

namespace {

void time_out_after_10s(int fd)
{
    timeval tv{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

} // namespace

listener::listener() : fd_(bind_free_loopback(port_))
{
    ::listen(fd_, 64);
    time_out_after_10s(fd_);
}

listener::~listener()
{
    ::close(fd_);
}

int listener::accept_one() const
{
    const int fd = ::accept(fd_, nullptr, nullptr);
    if (fd >= 0)
        time_out_after_10s(fd);
    return fd;
}

fake_server::fake_server(int connections, answer_fn answer) : answer_(std::move(answer))
{
    acceptor_ = std::thread([this, connections] {
        for (int i = 0; i < connections; ++i) {
            const int fd = listener_.accept_one();
            if (fd < 0)
                return;
            connections_.emplace_back(&fake_server::serve, this, fd, i);
        }
    });
}

fake_server::~fake_server()
{
    acceptor_.join();
    for (auto& t : connections_)
        t.join();
}

void fake_server::serve(int fd, int index)
{
    try {
        qs::frame_splitter in;
        qs::frame f;
        while (read_frame(fd, in, f)) {
            std::optional<std::string> reply;
            {
                std::lock_guard guard(lock_);
                reply = answer_(index, f.text);
            }
            if (!reply)
                continue;
            std::string out;
            qs::append_frame(out, f.cid, *reply);
            send_all(fd, out);
        }
    } catch (const std::exception&) { // the client went away
    }
    ::close(fd);
}

} // namespace qsb::test
