#pragma once

#include <memory>
#include <string>

#include "qs/server/server_state.h"

namespace qs {

// The server's network side: io_threads event loops (an io_context and a thread each)
// own the connections, handed round in turn;
// commands that may wait on the database run on a pool of workers sized to the
// database connections. Commands of one connection take effect in the order they
// arrived; a waiting select parks in its session and holds up nothing. Owned by the
// run routine.
class network {
public:
    explicit network(server_state& state);
    ~network();
    network(const network&) = delete;
    network& operator=(const network&) = delete;

    // Binds and listens on the port setting (and on tls_port with the certificate
    // loaded) and starts the event loop. Writes the start-up lines to the log; false
    // (and "Failed.") when the server cannot listen or load the certificate, with why.
    bool start(std::string& why);
    // Stops accepting, ends every connection (their users are logged out) and waits
    // until every connection and command has finished.
    void stop();

    struct impl;

private:
    std::unique_ptr<impl> impl_;
};

// The fixed reply to a request that failed inside the server.
inline constexpr const char* command_failed = "The command failed inside the server.";

} // namespace qs
