#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace qsb {

// The client side of a WebSocket as bytes in and bytes out: Beast's client (masked
// frames, as a browser sends) over a memory_stream, so that the socket and TLS stay
// the client's own on qsbench's event loop. The upgrade request is the first output;
// messages sent before the upgrade is answered leave once it is. One thread uses it.
class ws_channel {
public:
    // host: the Host header ("127.0.0.1:8080"); target: the path ("/ws").
    ws_channel(const std::string& host, const std::string& target);
    ~ws_channel();
    ws_channel(const ws_channel&) = delete;
    ws_channel& operator=(const ws_channel&) = delete;

    // Bytes from the server.
    void feed(const char* data, std::size_t size);
    // Queues one text message.
    void send(std::string text);
    // Moves the bytes to write to the server onto the end of out.
    void take_output(std::string& out);
    // The next whole message received; false when there is none.
    bool next(std::string& message);
    // Why the WebSocket failed or closed; empty while it works.
    const std::string& failure() const;

    struct impl;

private:
    std::unique_ptr<impl> impl_;
};

} // namespace qsb
