#pragma once

#include <functional>

#include "qs/server/logic/event_loop_thread.h"
#include "qs/sync/mutex.h"

namespace qs {

// The server state's locks (the table lock, the user locks) are taken through
// state_guard, which counts those the calling thread holds. A callback handed to
// run_outside_state_locks() runs at once when the thread holds none, else when it
// releases the last one: no callback ever runs under a state lock, whatever path
// completed it.
void run_outside_state_locks(std::function<void()> callback);
// Whether the calling thread holds a state lock now (a callback would have to wait).
bool holding_state_locks() noexcept;

// For Clang's analysis: the fields of a session are guarded by the table lock of the
// node_sessions whose table holds it, which a session cannot name. A guard on a table
// lock also holds this role, and the fields are GUARDED_BY(session_table); a session
// never moves between states.
class CAPABILITY("session table") session_table_role {};
inline session_table_role session_table;

// The table lock of a node_sessions.
class CAPABILITY("mutex") table_mutex : public mutex {};

// One state lock, held from construction until unlock() or destruction.
class SCOPED_CAPABILITY state_guard {
public:
    // Waits for the lock; on an event loop, when wait_on_loop is false, throws
    // would_block instead of waiting.
    explicit state_guard(mutex& m, bool wait_on_loop = true) ACQUIRE(m);
    // The table lock: with it, the fields of its sessions.
    explicit state_guard(table_mutex& m) ACQUIRE(m, session_table);
    ~state_guard() RELEASE();
    state_guard(const state_guard&) = delete;
    state_guard& operator=(const state_guard&) = delete;

    void unlock() RELEASE();
    void lock() ACQUIRE();

private:
    mutex& m_;
    bool owns_ = false;
};

} // namespace qs
