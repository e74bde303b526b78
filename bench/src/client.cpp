#include "client.h"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench_error.h"
#include "qs/fault/exception.h"
#include "ws_message.h"

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
    try {
        if (server_.tls)
            tls_ = std::make_unique<tls_link>(fd_);
        if (server_.ws)
            ws_ = std::make_unique<ws_channel>(describe(server_), "/ws");
    } catch (...) {
        tls_.reset();
        ::close(fd_);
        fd_ = -1;
        throw;
    }
    connecting_ = true;
    handshaking_ = server_.tls;
    want_out_ = true;
    loop_.watch(fd_, base_events | EPOLLOUT, *this);
}

void client::close()
{
    ++generation_;
    ws_.reset();
    tls_.reset();
    if (fd_ >= 0) {
        loop_.forget(fd_);
        ::close(fd_);
    }
    fd_ = -1;
    connecting_ = handshaking_ = want_out_ = false;
    out_.clear();
    out_begin_ = 0;
    in_ = qs::frame_splitter();
    waiting_.clear();
}

void client::queue(std::string_view text, reply_fn on_reply)
{
    std::int32_t cid = next_cid_;
    next_cid_ = next_cid_ == INT32_MAX ? 1 : next_cid_ + 1;
    if (ws_)
        ws_->send(ws_request(cid, text));
    else
        qs::append_frame(out_, cid, text);
    waiting_[cid] = std::move(on_reply);
}

void client::flush()
{
    if (fd_ >= 0 && !connecting_ && !handshaking_)
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
    if (handshaking_ && !step_handshake())
        return;
    const std::uint64_t gen = generation_;
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
        read_some();
        if (generation_ != gen)
            return;
    }
    // TLS: a write that waited may go on after a read; WebSocket: a read may have
    // something to send (the requests that waited for the upgrade, a pong).
    if ((events & EPOLLOUT) || tls_ || ws_)
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

// Drives the TLS handshake, watching for what it waits on; true once it is done.
bool client::step_handshake()
{
    switch (tls_->handshake()) {
    case tls_link::status::done:
        handshaking_ = false;
        return true;
    case tls_link::status::want_read:
        watch_out(false);
        return false;
    case tls_link::status::want_write:
        watch_out(true);
        return false;
    default:
        fail("TLS handshake: " + tls_->failure());
        return false;
    }
}

// Plain: one receive. TLS: until the socket has nothing more, since bytes left inside
// TLS would wake no epoll wait.
void client::read_some()
{
    char buf[64 * 1024];
    const std::uint64_t gen = generation_;
    std::size_t n = 0;
    while (receive(buf, sizeof buf, n)) {
        if (ws_)
            ws_->feed(buf, n);
        else
            in_.feed(buf, n);
        dispatch();
        if (generation_ != gen || !tls_)
            return;
    }
}

// One receive; false when nothing came, or the connection failed (and is closed).
bool client::receive(char* buf, std::size_t size, std::size_t& n)
{
    if (tls_) {
        switch (tls_->read(buf, size, n)) {
        case tls_link::status::done:
            return true;
        case tls_link::status::want_read:
        case tls_link::status::want_write:
            return false;
        case tls_link::status::closed:
            fail("the server closed the connection");
            return false;
        default:
            fail("TLS receive: " + tls_->failure());
            return false;
        }
    }
    const ssize_t got = ::recv(fd_, buf, size, 0);
    if (got == 0)
        fail("the server closed the connection");
    else if (got < 0 && errno != EAGAIN && errno != EINTR)
        fail(std::string("receive: ") + std::strerror(errno));
    n = got > 0 ? static_cast<std::size_t>(got) : 0;
    return got > 0;
}

// Hands each whole frame to its callback; a callback may close or reopen this client.
void client::dispatch()
{
    const std::uint64_t gen = generation_;
    qs::frame f;
    for (;;) {
        try {
            if (!next_reply(f))
                return;
        } catch (const std::exception& e) {
            return fail(e.what());
        } catch (const qs::exception&) {
            return fail("a reply is longer than " + std::to_string(qs::max_frame_size) + " bytes");
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

// The next whole reply as a frame. Throws when the bytes or a message are no reply.
bool client::next_reply(qs::frame& f)
{
    if (!ws_)
        return in_.next(f);
    std::string message;
    if (ws_->next(message)) {
        f = parse_ws_reply(message);
        return true;
    }
    if (!ws_->failure().empty())
        throw bench_error("WebSocket: " + ws_->failure());
    return false;
}

void client::write_some()
{
    if (ws_)
        ws_->take_output(out_);
    const std::uint64_t gen = generation_;
    for (std::size_t n = 0; out_begin_ < out_.size() && send_some(n);) {
        ++writes_;
        out_begin_ += n;
    }
    if (generation_ != gen)
        return;
    if (out_begin_ == out_.size()) {
        out_.clear();
        out_begin_ = 0;
    }
    update_interest();
}

// One send of what is queued; false when the socket takes nothing now, or the
// connection failed (and is closed).
bool client::send_some(std::size_t& n)
{
    const char* data = out_.data() + out_begin_;
    const std::size_t size = out_.size() - out_begin_;
    if (tls_) {
        const tls_link::status s = tls_->write(data, size, n);
        if (s == tls_link::status::failed || s == tls_link::status::closed)
            fail("TLS send: " + tls_->failure());
        return s == tls_link::status::done;
    }
    const ssize_t sent = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno != EAGAIN && errno != EINTR)
        fail(std::string("send: ") + std::strerror(errno));
    n = sent > 0 ? static_cast<std::size_t>(sent) : 0;
    return sent > 0;
}

void client::update_interest()
{
    watch_out(out_begin_ < out_.size());
}

void client::watch_out(bool want)
{
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
