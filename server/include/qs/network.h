#pragma once

#include "qs/server_state.h"

namespace qs {

// The server's network side: one listening thread, and a receive task per connection
// that runs the connection's commands in the order they arrive; a select runs on a
// thread of its own. Tasks run on threads from a cache of threads.

// Binds and listens on the port setting and starts the listening thread. Writes the
// start-up lines to the log; false (and "Failed.") when the server cannot listen.
bool start_network(server_state& state);

// Closes every connection (their users are logged out) and the listening socket,
// then waits until every receive and command thread has finished.
void stop_network();

// The fixed reply to a request that failed inside the server.
inline constexpr const char* command_failed = "The command failed inside the server.";

} // namespace qs
