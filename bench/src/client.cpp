#include "client.h"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qsb {

namespace {

constexpr std::uint32_t base_events = EPOLLIN | EPOLLRDHUP;

} // namespace

client::client(event_loop& loop, const endpoint& server) : loop_(loop), server_(server) {}

client::~client()
{
    close();
}

void client::open()
{
    close();
    fd_ = start_connect(server_);
    connecting_ = true;
    want_out_ = true;
    loop_.watch(fd_, base_events | EPOLLOUT, *this);
}

void client::close()
{
    ++generation_;
    if (fd_ >= 0) {
        loop_.forget(fd_);
        ::close(fd_);
    }
    fd_ = -1;
    connecting_ = want_out_ = false;
    out_.clear();
    out_begin_ = 0;
    in_ = frame_decoder();
    waiting_.clear();
}

void client::queue(std::string_view text, reply_fn on_reply)
{
    std::int32_t cid = next_cid_;
    next_cid_ = next_cid_ == INT32_MAX ? 1 : next_cid_ + 1;
    append_frame(out_, cid, text);
    waiting_[cid] = std::move(on_reply);
}

void client::flush()
{
    if (fd_ >= 0 && !connecting_)
        write_some();
}

void client::request(std::string_view text, reply_fn on_reply)
{
    queue(text, std::move(on_reply));
    flush();
}

void client::on_ready(std::uint32_t events)
{
    if (fd_ < 0)
        return;
    if (connecting_ && !finish_connect())
        return;
    const std::uint64_t gen = generation_;
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
        read_some();
        if (generation_ != gen)
            return;
    }
    if (events & EPOLLOUT)
        write_some();
}

bool client::finish_connect()
{
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
        fail("connect to " + describe(server_) + ": " + std::strerror(err));
        return false;
    }
    connecting_ = false;
    return true;
}

void client::read_some()
{
    char buf[64 * 1024];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n == 0)
        return fail("the server closed the connection");
    if (n < 0) {
        if (errno != EAGAIN && errno != EINTR)
            fail(std::string("receive: ") + std::strerror(errno));
        return;
    }
    in_.feed(buf, static_cast<std::size_t>(n));
    dispatch();
}

// Hands each whole frame to its callback; a callback may close or reopen this client.
void client::dispatch()
{
    const std::uint64_t gen = generation_;
    frame f;
    for (;;) {
        try {
            if (!in_.next(f))
                return;
        } catch (const std::exception& e) {
            return fail(e.what());
        }
        auto it = waiting_.find(f.cid);
        if (it == waiting_.end())
            return fail("a reply with the unknown command id " + std::to_string(f.cid));
        reply_fn callback = std::move(it->second);
        waiting_.erase(it);
        callback(f.text);
        if (generation_ != gen)
            return;
    }
}

void client::write_some()
{
    while (out_begin_ < out_.size()) {
        const ssize_t n = ::send(fd_, out_.data() + out_begin_, out_.size() - out_begin_, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                break;
            return fail(std::string("send: ") + std::strerror(errno));
        }
        ++writes_;
        out_begin_ += static_cast<std::size_t>(n);
    }
    if (out_begin_ == out_.size()) {
        out_.clear();
        out_begin_ = 0;
    }
    update_interest();
}

void client::update_interest()
{
    const bool want = out_begin_ < out_.size();
    if (want == want_out_)
        return;
    want_out_ = want;
    loop_.watch(fd_, base_events | (want ? EPOLLOUT : 0u), *this);
}

void client::fail(const std::string& why)
{
    close();
    if (on_error_)
        on_error_(why);
}

} // namespace qsb
