#pragma once

#include <exception>

namespace qs {

// Event-loop threads never wait. There, a state operation that would wait for a user's
// lock (held by another thread, perhaps across database work) or for the database
// throws would_block before it changes anything, and the connection runs the command
// on a database worker instead.
struct would_block : std::exception {
    const char* what() const noexcept override { return "the operation would wait on an event loop"; }
};

// Marks the calling thread as an event loop, for the rest of its life.
void mark_event_loop_thread() noexcept;
bool on_event_loop() noexcept;

} // namespace qs
