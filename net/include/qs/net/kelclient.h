#pragma once

#include <memory>

#include "qs/net/socket.h"

namespace qs {

namespace detail {
struct client_channel;
}

// Client end of the command channel. connect() starts a daemon thread that files every
// reply frame; exec() sends one command and waits for the reply with the same id.
// Any number of threads may call exec() on one connected kelclient at once.
//
// Ownership: the connection and reply list live in a channel shared by the object, its
// copies and the daemon thread; the last of them to go frees it. The descriptor is
// released once: by close() after the daemon thread has stopped using it, or by the
// channel when the last owner goes. Destroying a connected kelclient without close()
// leaves the connection open; its daemon ends when the peer closes.
class kelclient : public socket {
public:
    kelclient();
    // Shares the connection and the reply list of other.
    kelclient(const kelclient& other);
    kelclient& operator=(const kelclient&) = delete;
    ~kelclient() override;

    // Connects and starts the daemon thread; a failure (code 1) starts nothing.
    void connect(const char* host, int port);
    void connect(const sockaddr_in& addr);

    // Sends cmd as one frame and copies its reply into result the way strncpy does
    // (at most size bytes; not terminated when the reply has size bytes or more).
    // Throws 4 when the frame cannot be sent, 3 when the connection ends first.
    void exec(const char* cmd, char* result, int size);

    // Ends the connection: wakes and waits out the daemon thread, fails every waiting
    // exec, then releases the descriptor. Sets -1 in this object.
    void close();

private:
    static int get_cid();
    void start_daemon();

    std::shared_ptr<detail::client_channel> channel_;
};

} // namespace qs
