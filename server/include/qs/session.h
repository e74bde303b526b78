#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <string>

#include "qs/pending_pool.h"

namespace qs {

// The in-memory record of one logged-in user. Owned jointly by the session table and
// by the handles that connections and requests hold; every field below but name is
// guarded by the server_state's table lock.
struct session {
    explicit session(std::string user) : name(std::move(user)) {}

    const std::string name;
    pending_pool messages;
    pending_pool group_messages;
    pending_pool custom_messages;
    std::string status;
    std::string contacts;            // the user's contact list, read at login, kept current
    std::deque<std::string> events;  // "getstatus <name>", oldest first, capped
    bool has_messages = false;
    bool has_group_messages = false;
    bool has_custom_messages = false;

    bool closed = false;    // removed from the table: the handle is dead
    bool closing = false;   // logout is storing the pools; no fetch meanwhile
    bool orphaned = false;  // its connection ended but the pools could not be stored yet
    std::condition_variable changed;  // waiting selects of this session
};

// A connection's or a request's handle to a session; null means nobody is logged in.
using session_handle = std::shared_ptr<session>;

} // namespace qs
