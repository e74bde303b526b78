#pragma once

#include <string>

#include "qs/server/logic/delivery_ack.h"
#include "qs/server/logic/pool_kind.h"
#include "qs/server/logic/session.h"
#include "qs/store/login_row.h"

namespace qs {

// Who is online, and which login owns each user's session: the one-login rule, the end
// of a session, a user's status. One node uses local_directory; a cluster directory
// implements the same over the shared database and the cluster bus, keeping the
// sessions of its own node in a node_sessions as the local one does.
//
// Calls are made holding no table lock (an implementation takes the one it needs); a
// call that may wait (on a database, on the bus) is made only off the event loops. The
// hot path of a message never comes here: it finds a receiver logged in on this node
// in node_sessions.
class session_directory {
public:
    virtual ~session_directory() = default;

    // The one-login rule. The user's session on this node: made from row (its stored
    // pools and contact list), or taken over from an orphan (a connection that ended
    // while its pools could not be stored), which keeps its pools and gets row's
    // contacts. qsexcpt(user_online) while the user is logged in with a live session.
    // Called with the user's lock held.
    virtual session_handle claim(const std::string& name, const login_row& row) = 0;
    // The session is over: it leaves the directory (unless a newer session of the user
    // took its place) and its handle is dead (closed). The caller wakes what waits in it.
    virtual void release(const session_handle& handle) = 0;
    // The status of a user logged in with a session; false when there is none.
    virtual bool status_of(const std::string& name, std::string& out) = 0;

    // Whether claim, release, and status_of and route for users not logged in on this
    // node, may wait (on a database, on the bus): then their callers run off the loops.
    virtual bool waits() const { return false; }
    // An entry for a receiver with no session on this node: handed to the node that
    // holds the receiver's session, if another one does (true); ack, when given, is
    // attached and settles with that node's answer. False: no node does, the caller
    // stores it. Called holding the receiver's user lock.
    virtual bool route(pool_kind, const std::string& /*receiver*/, const std::string& /*entry*/,
                       const ack_handle& /*ack*/)
    {
        return false;
    }
    // Whether route would hand an entry for receiver to another node without waiting
    // (it knows the holder); a hint, as the directory may change meanwhile.
    virtual bool routes_at_once(const std::string& /*receiver*/) { return false; }
    // A user's status changed to status on this node; contacts, the user's contact
    // list, are the users who hear of it. Called holding no state lock; never waits.
    virtual void status_changed(const std::string& /*name*/, const std::string& /*status*/,
                                const std::string& /*contacts*/)
    {
    }
};

} // namespace qs
