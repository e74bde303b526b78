#pragma once

namespace qs {

// A connection the network counts against max_connections and ends at stop: a client
// connection (frames over TCP, TLS or a WebSocket) or an HTTP connection.
class served_connection {
public:
    virtual ~served_connection() = default;
    // From any thread: stop reading; the connection ends once what it does is done.
    virtual void shutdown() = 0;
};

} // namespace qs
