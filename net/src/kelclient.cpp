#include "qs/net/kelclient.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "client_channel.h"

namespace qs {

namespace {

using tls_check = detail::tls_session::peer_check;

constexpr int send_failed = 4;
constexpr int connection_ended = 3;

std::atomic<std::uint32_t> last_cid{0}; // process-wide; the first cid is 1

// Files every reply until the receive fails, then tells every waiter. Receives through
// tls when set, from the socket otherwise.
void daemon_proc(const std::shared_ptr<detail::client_channel>& channel, socket wire,
                 std::shared_ptr<detail::tls_session> tls)
{
    auto receive = [&](char* at, std::size_t room) {
        return tls ? tls->recv(at, room) : static_cast<std::size_t>(wire.recv(at, static_cast<int>(room)));
    };
    frame_splitter frames;
    try {
        for (;;) {
            frame reply;
            while (!frames.next(reply)) {
                std::size_t room = 0;
                char* at = frames.prepare(room);
                frames.commit(receive(at, room));
            }
            std::lock_guard guard(channel->lock);
            channel->replies.push_back(std::move(reply));
            channel->changed.notify_all();
        }
    } catch (...) {
    }
    // Free this thread's TLS state before close() may return: a process that exits next runs OpenSSL's
    // clean-up, which must not race a session still referenced here.
    if (tls) {
        tls.reset();
        detail::tls_session::forget_thread_state();
    }
    std::lock_guard guard(channel->lock);
    channel->ended = true;
    channel->daemon_running = false;
    channel->changed.notify_all();
}

// strncpy into a caller's buffer of size bytes.
void copy_result(const std::string& text, char* result, int size)
{
    if (result == nullptr || size <= 0)
        return;
    std::size_t n = std::min(text.size(), static_cast<std::size_t>(size));
    std::memcpy(result, text.data(), n); // NOLINT(bugprone-not-null-terminated-result): strncpy's contract
    std::memset(result + n, 0, static_cast<std::size_t>(size) - n);
}

} // namespace

kelclient::kelclient() : channel_(std::make_shared<detail::client_channel>()) {}

kelclient::kelclient(const kelclient& other) : socket(other), channel_(other.channel_) {}

kelclient::~kelclient() = default;

void kelclient::connect(const char* host, int port)
{
    socket::connect(host, port);
    start_daemon();
}

void kelclient::connect(const sockaddr_in& addr)
{
    socket::connect(addr);
    start_daemon();
}

void kelclient::connect_tls(const char* host, int port, const char* ca_file)
{
    tls_failure_ = tls_failure::none;
    socket::connect(host, port);
    start_daemon(std::make_shared<detail::tls_session>(handle(), host, tls_check{true, ca_file}, tls_failure_));
}

void kelclient::connect_tls_unverified(const char* host, int port)
{
    tls_failure_ = tls_failure::none;
    socket::connect(host, port);
    start_daemon(std::make_shared<detail::tls_session>(handle(), host, tls_check{false, nullptr}, tls_failure_));
}

int kelclient::get_cid()
{
    return static_cast<int>(++last_cid);
}

void kelclient::start_daemon(std::shared_ptr<detail::tls_session> tls)
{
    {
        std::lock_guard guard(channel_->send_lock);
        channel_->wire = *this;
        channel_->connected = true;
        channel_->tls = tls;
    }
    {
        std::lock_guard guard(channel_->lock);
        channel_->daemon_running = true;
    }
    std::thread(daemon_proc, channel_, socket(*this), std::move(tls)).detach();
}

void kelclient::exec(const char* cmd, char* result, int size)
{
    if (cmd == nullptr)
        throw exception(send_failed);
    const int cid = get_cid();
    const std::string bytes = encode_frame(cid, cmd);
    if (bytes.size() > max_frame_size)
        throw exception(send_failed);
    {
        std::lock_guard guard(channel_->send_lock);
        if (!channel_->wire.is_open())
            throw exception(send_failed);
        if (channel_->tls)
            channel_->tls->send(bytes.data(), bytes.size());
        else
            channel_->wire.send(bytes.data(), static_cast<int>(bytes.size()));
    }
    std::unique_lock guard(channel_->lock);
    auto& replies = channel_->replies;
    auto mine = replies.end();
    channel_->changed.wait(guard, [&] {
        mine = std::find_if(replies.begin(), replies.end(), [cid](const frame& f) { return f.cid == cid; });
        return mine != replies.end() || channel_->ended;
    });
    if (mine == replies.end())
        throw exception(connection_ended);
    const std::string text = std::move(mine->text);
    replies.erase(mine);
    guard.unlock();
    copy_result(text, result, size);
}

void kelclient::close()
{
    {
        std::lock_guard guard(channel_->send_lock);
        if (!channel_->connected) {
            socket::close(); // never connected: the descriptor is this object's own
            return;
        }
        if (channel_->tls && channel_->wire.is_open())
            channel_->tls->say_goodbye();
        channel_->wire.shutdown(); // a no-op once released through a copy
    }
    {
        std::unique_lock guard(channel_->lock);
        channel_->changed.wait(guard, [this] { return !channel_->daemon_running; });
    }
    std::lock_guard guard(channel_->send_lock);
    channel_->tls.reset(); // freed here, not by whichever thread drops the channel last
    if (channel_->wire.is_open())
        channel_->wire.close();
    socket::operator=(socket());
}

} // namespace qs
