#pragma once

#include "qs/server/logic/node_sessions.h"
#include "qs/server/logic/session_directory.h"

namespace qs {

// The directory of a single node: a user is online when a session of the user is in
// this node's table. Holds no lock of its own: every call takes the table lock of
// sessions for a moment. Owned by server_state; safe from any thread, event loops
// included.
class local_directory final : public session_directory {
public:
    explicit local_directory(node_sessions& sessions) : sessions_(sessions) {}

    session_handle claim(const std::string& name, const login_row& row) override;
    void release(const session_handle& handle) override;
    bool status_of(const std::string& name, std::string& out) override;

private:
    node_sessions& sessions_; // thread-safe itself; owned by server_state
};

} // namespace qs
