#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "endpoint.h"
#include "event_loop.h"
#include "qs/net/frame.h"
#include "tls_link.h"
#include "ws_channel.h"

namespace qsb {

// One connection to the server on an event loop, over TLS and as a WebSocket when the
// endpoint says so. Requests carry command ids of their own (a frame's, or a WebSocket
// message's "id"); each reply, in whatever order it comes, goes to its request's
// callback. Requests queued before the connection (and its handshakes) is up leave once
// it is.
class client final : public event_loop::handler {
public:
    using reply_fn = std::function<void(const std::string& text)>;
    using error_fn = std::function<void(const std::string& why)>;

    client(event_loop& loop, const endpoint& server);
    ~client();
    client(const client&) = delete;
    client& operator=(const client&) = delete;

    // Starts a new connection, closing the one before. Throws bench_error when it fails at once.
    void open();
    void close();
    bool is_open() const { return fd_ >= 0; }

    // Called once when the connection fails or the server closes it; the requests
    // still unanswered are dropped.
    void on_error(error_fn f) { on_error_ = std::move(f); }

    // Queues a request without writing it; flush() writes everything queued.
    void queue(std::string_view text, reply_fn on_reply);
    void flush();
    void request(std::string_view text, reply_fn on_reply);

    std::size_t awaiting() const { return waiting_.size(); }
    std::uint64_t writes() const { return writes_; }

private:
    void on_ready(std::uint32_t events) override;
    bool finish_connect();
    bool step_handshake();
    void read_some();
    bool receive(char* buf, std::size_t size, std::size_t& n);
    void dispatch();
    bool next_reply(qs::frame& f);
    void write_some();
    bool send_some(std::size_t& n);
    void update_interest();
    void watch_out(bool want);
    void fail(const std::string& why);

    event_loop& loop_;
    endpoint server_;
    int fd_ = -1;
    std::unique_ptr<tls_link> tls_;  // with fd_ on a TLS endpoint
    std::unique_ptr<ws_channel> ws_; // with fd_ on a WebSocket endpoint, over tls_ or the socket
    bool connecting_ = false;
    bool handshaking_ = false;
    bool want_out_ = false;
    std::uint64_t generation_ = 0; // grows at each open and close
    std::int32_t next_cid_ = 1;
    std::string out_;
    std::size_t out_begin_ = 0;
    qs::frame_splitter in_; // without ws_
    std::unordered_map<std::int32_t, reply_fn> waiting_;
    error_fn on_error_;
    std::uint64_t writes_ = 0;
};

} // namespace qsb
