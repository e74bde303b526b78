#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qs {

class connection_pool;

// The nodes of a cluster and which node holds each user's session, in the tables nodes
// and sessions of the shared PostgreSQL database (store/schema/postgresql.sql). A node
// is live while its lease runs; every lease is measured by the database's clock, so
// the nodes' clocks need not agree. One statement per call: each is atomic on its own.
//
// Threads: safe from any thread; every call waits on the database, so never call one
// on an event loop. Failures pass through as db_error (42P01: the tables are missing).
class node_directory {
public:
    explicit node_directory(connection_pool& pool) : pool_(pool) {}

    // Makes node live for lease from now, and forgets the sessions an earlier run of the
    // same name held; false, changing nothing, while another live node has the name.
    bool register_node(const std::string& node, std::chrono::seconds lease);
    // Extends node's lease to lease from now; false when it had run out already (or the
    // row is gone): other nodes may have claimed its users since, and the node must
    // register again before it claims anything.
    bool renew(const std::string& node, std::chrono::seconds lease);
    // Ends node's lease now and releases every session it holds (the node stops).
    void release_node(const std::string& node);

    // Gives user's session to node unless another live node holds it; true when node
    // holds it now (a node that holds it already keeps it, since unchanged). A node whose
    // own lease ran out claims nothing. Of nodes claiming at once, exactly one wins.
    // status: the session's status from now.
    bool claim(const std::string& user, const std::string& node, const std::string& status = "");
    // Releases user's session when node holds it (logout).
    void release(const std::string& user, const std::string& node);
    // The live node holding user's session, if any.
    std::optional<std::string> holder(const std::string& user);
    // The names of the live nodes, sorted.
    std::vector<std::string> live_nodes();

    // Records the status of user's session, when node holds it.
    void set_status(const std::string& user, const std::string& node, const std::string& status);
    // The status of user's session on a live node, if any.
    std::optional<std::string> status_of(const std::string& user);

    // A user whose session node holds, with the byte lengths of its three stored pools
    // (messages, groupmessages, custommessages).
    struct stored_pools {
        std::string user;
        std::array<std::size_t, 3> lengths{};
    };
    // Every user of node with something stored in msgpool.
    std::vector<stored_pools> stored_of(const std::string& node);

private:
    connection_pool& pool_;
};

} // namespace qs
