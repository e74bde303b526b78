#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "qs/net/frame.h"
#include "qs/net/socket.h"
#include "tls_session.h"

namespace qs::detail {

// What a kelclient, its copies and its daemon thread share.
struct client_channel {
    std::mutex send_lock;             // serialises frames on the wire
    socket wire;                      // guarded by send_lock; -1 before connect and after release
    bool connected = false;           // guarded by send_lock; the descriptor now belongs to the channel
    std::shared_ptr<tls_session> tls; // guarded by send_lock; set with connected, null for plain TCP

    std::mutex lock; // guards replies, ended and daemon_running
    std::condition_variable changed;
    std::vector<frame> replies; // unclaimed replies in arrival order
    bool ended = false;         // the daemon's receive failed: no more replies come
    bool daemon_running = false;

    ~client_channel() { wire.close(); }
};

} // namespace qs::detail
