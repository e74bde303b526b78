#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <list>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qs/server/logic/pending_pool.h"
#include "qs/server/logic/pool_kind.h"
#include "qs/server/logic/state_lock.h"

namespace qs {

struct session;
// A connection's or a request's handle to a session; null means nobody is logged in.
using session_handle = std::shared_ptr<session>;

// What a fetch or select handed out, to put back when its reply never reaches the
// client.
struct hand_out {
    session_handle session;
    std::array<pending_pool::taken, 3> taken; // by msgpool column
    bool empty() const;
    bool needs_database() const; // stored entries, or a session that is gone
    // The reply left: the senders of what it hands out hear that it is safe.
    void confirm();
};

// A select waiting in its session for a kind it names (bits of its mask). done runs
// once with the reply and what it hands out, outside every lock.
struct parked_select {
    unsigned wanted;
    std::function<void(std::string, hand_out)> done;
};

// The in-memory record of one logged-in user. Owned jointly by the session table and
// by the handles that connections and requests hold. name is const, closed atomic (set
// under the table lock, read anywhere); every other field is guarded by the table lock
// of the node_sessions whose table holds the session (session_table to the analysis).
struct session {
    explicit session(std::string user) : name(std::move(user)) {}

    const std::string name;
    std::array<pending_pool, pool_kinds> pools GUARDED_BY(session_table); // by index_of(pool_kind)
    std::string status GUARDED_BY(session_table);
    std::string contacts GUARDED_BY(session_table); // the user's contact list, read at login, kept current
    // waiters::status_event(name), oldest first, capped (a list: none allocates nothing)
    std::list<std::string> events GUARDED_BY(session_table);
    // By index_of(pool_kind): the pool has something a fetch or select would hand out.
    std::array<bool, pool_kinds> pending GUARDED_BY(session_table){};

    std::atomic<bool> closed = false;                // removed from the table: the handle is dead; set once
    bool closing GUARDED_BY(session_table) = false;  // logout is storing the pools; no fetch meanwhile
    bool orphaned GUARDED_BY(session_table) = false; // its connection ended but the pools could not be stored yet
    bool spill_scheduled GUARDED_BY(session_table) = false; // a spill will store what waits only in memory
    // Per msgpool column: until when a select is expected for that kind (one waited or
    // was answered lately); a message of a kind nobody selects is stored at once.
    std::array<std::chrono::steady_clock::time_point, 3> selecting_until GUARDED_BY(session_table){};
    std::vector<parked_select> parked GUARDED_BY(session_table); // waiting selects, oldest first
};

} // namespace qs
