#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include "qs/net/frame.h"
#include "asio_alias.h"

namespace qs {

struct web_upgrade; // web_upgrade.h
struct web_upgrade_deleter {
    void operator()(web_upgrade* up) const noexcept;
};
using web_upgrade_ptr = std::unique_ptr<web_upgrade, web_upgrade_deleter>;

// A WebSocket (over TCP or TLS) carrying the frames of a client connection as JSON
// messages (ws_message.h): reading turns a request into the frame a TCP client would
// send, writing turns each reply frame into a message. Beast lives behind impl. Owned by
// its connection_stream and used on the connection's event loop only; at most one read
// and one write are in flight at a time.
class web_stream {
public:
    // ping: the time between pings; two left unanswered close the socket. A message
    // begun and not finished within unfinished closes it too.
    web_stream(web_upgrade_ptr upgrade, std::chrono::seconds ping, std::chrono::seconds unfinished);
    web_stream(web_stream&&) noexcept;
    web_stream& operator=(web_stream&&) noexcept;
    ~web_stream();

    asio::ip::tcp::socket& tcp();
    // Answers the upgrade request; past limit the socket is closed.
    asio::awaitable<error_code> accept(std::chrono::seconds limit);
    // Waits for one message and feeds its frame to frames. A message that is no request
    // is logged and closes the WebSocket (1007; binary: 1003); then, at the end of the
    // stream and on an error, it throws.
    asio::awaitable<void> read_into(frame_splitter& frames);
    // Writes every frame of bytes as a message of its own, in order; then done runs.
    void async_write(asio::const_buffer bytes, std::function<void(error_code, std::size_t)> done);

    struct impl;

private:
    std::unique_ptr<impl> impl_;
};

} // namespace qs
