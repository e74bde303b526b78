#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "qs/server/logic/session.h"
#include "qs/server/logic/state_lock.h"

namespace qs {

// The sessions logged in on this node, by user name. Its table lock guards the map and
// every field of every session in it (both session_table to the analysis, the role a
// guard on the table lock holds; a node has one table): held for moments,
// never across database work, taken after a user lock, always through state_guard.
// Lookups are not virtual: a message to a user logged in here finds the session with
// one map search under the one lock. Owned by server_state; safe from any thread.
class node_sessions {
public:
    node_sessions() = default;
    node_sessions(const node_sessions&) = delete;
    node_sessions& operator=(const node_sessions&) = delete;

    table_mutex& lock() RETURN_CAPABILITY(lock_) { return lock_; }

    // Called with the table lock held: the session of name, null when there is none.
    // The reference holds while the lock is held (no count of the handle is taken).
    const session_handle& find(const std::string& name) REQUIRES(session_table)
    {
        auto it = sessions_.find(name);
        return it == sessions_.end() ? none_ : it->second;
    }
    // Called with the table lock held: the session of name, made when there is none;
    // true when it was made.
    std::pair<session_handle, bool> emplace(const std::string& name) REQUIRES(session_table);
    // Called with the table lock held: removes handle unless another session of the
    // same name has taken its place.
    void erase(const session_handle& handle) REQUIRES(session_table);

    // Called with the table lock held: the status a status event about name reads: its
    // session's here, else the one its node last announced, else "" (offline).
    std::string status_for_event(const std::string& name) REQUIRES(session_table);
    // Called with the table lock held: name, held by another node, announced status
    // ("offline": it is gone).
    void remember_remote_status(const std::string& name, const std::string& status) REQUIRES(session_table);

    // Takes the table lock: the users logged in here, and the selects parked in their sessions.
    struct census {
        std::size_t users = 0;
        std::size_t parked_selects = 0;
    };
    census count();
    // Takes the table lock.
    session_handle find_now(const std::string& name);
    std::vector<session_handle> all();
    std::vector<session_handle> orphans();

private:
    table_mutex lock_;
    std::map<std::string, session_handle> sessions_ GUARDED_BY(session_table);
    std::map<std::string, std::string> remote_statuses_ GUARDED_BY(session_table); // users of other nodes
    static inline const session_handle none_; // what find() gives for a name not here
};

} // namespace qs
