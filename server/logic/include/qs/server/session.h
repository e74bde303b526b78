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

#include "qs/server/pending_pool.h"

namespace qs {

struct session;
// A connection's or a request's handle to a session; null means nobody is logged in.
using session_handle = std::shared_ptr<session>;

// What a fetch or select handed out, to put back when its reply never reaches the
// client.
struct hand_out {
    session_handle session;
    std::array<pending_pool::taken, 3> taken;  // by msgpool column
    bool empty() const;
    bool needs_database() const;  // stored entries, or a session that is gone
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
// by the handles that connections and requests hold; every field below but name is
// guarded by the server_state's table lock (closed is also read without it).
struct session {
    explicit session(std::string user) : name(std::move(user)) {}

    const std::string name;
    pending_pool messages;
    pending_pool group_messages;
    pending_pool custom_messages;
    std::string status;
    std::string contacts;            // the user's contact list, read at login, kept current
    std::list<std::string> events;   // "getstatus <name>", oldest first, capped (a list: none allocates nothing)
    bool has_messages = false;
    bool has_group_messages = false;
    bool has_custom_messages = false;

    std::atomic<bool> closed = false;  // removed from the table: the handle is dead; set once
    bool closing = false;   // logout is storing the pools; no fetch meanwhile
    bool orphaned = false;  // its connection ended but the pools could not be stored yet
    bool spill_scheduled = false;  // a spill will store what waits only in memory
    // Per msgpool column: until when a select is expected for that kind (one waited or
    // was answered lately); a message of a kind nobody selects is stored at once.
    std::array<std::chrono::steady_clock::time_point, 3> selecting_until{};
    std::vector<parked_select> parked;  // waiting selects, oldest first
};


} // namespace qs
