#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "qs/cluster/bus.h"
#include "qs/server/logic/timed_tasks.h"
#include "qs/store/node_directory.h"
#include "qs/store/owned_pool.h"
#include "qs/store/pool_options.h"
#include "qs/sync/debug_assert.h"
#include "qs/sync/thread_role.h"

namespace qs {

// This server as a node of a cluster (cluster_url): its bus to the other nodes and its
// lease in the shared database, renewed every third of the lease. Routes nothing yet:
// the command logic will use bus() and directory().
//
// Threads: main makes it, calls start() and stop() and destroys it. Renewals, and the
// log lines of the bus's status, run on the node's own timed_tasks thread, one after
// another: never on an event loop.
class cluster_node {
public:
    struct options {
        std::vector<std::string> urls;
        std::string name;
        std::chrono::seconds lease{10};
        pool_options database; // the node's own connections, to the shared database
    };

    explicit cluster_node(options o);
    ~cluster_node();
    cluster_node(const cluster_node&) = delete;
    cluster_node& operator=(const cluster_node&) = delete;

    // Registers the node and connects the bus, without waiting for NATS; false, with
    // why, when the node cannot join (its name held by a live node, the tables missing,
    // the database refusing).
    bool start(std::string& why);
    // Ends the lease and releases the node's sessions at once, after any renewal under
    // way; then closes the bus.
    void stop();

    cluster::bus& bus() { return *bus_; }
    node_directory& directory() { return directory_; }
    const std::string& name() const { return options_.name; }

private:
    void assert_on_tasks() const ASSERT_CAPABILITY(on_tasks_)
    {
        QS_ASSERT(std::this_thread::get_id() == tasks_thread_);
    }
    void renew_later();
    void renew() REQUIRES(on_tasks_);
    void reregister() REQUIRES(on_tasks_);
    void release() REQUIRES(on_tasks_);
    void on_bus(cluster::bus_status s);

    const options options_;
    owned_pool pool_;
    node_directory directory_{*pool_};
    [[no_unique_address]] thread_role on_tasks_;        // held by the tasks run by tasks_
    bool registered_ = false;                           // set by start() before it queues any task that reads it
    std::thread::id tasks_thread_;                      // set by tasks_'s first task, read by the later ones
    bool released_ GUARDED_BY(on_tasks_) = false;       // renewals after the release do nothing
    bool renewal_failed_ GUARDED_BY(on_tasks_) = false; // the last renewal failed and said so
    timed_tasks tasks_;                 // renewals, bus status, the release at stop; after what its tasks touch
    std::unique_ptr<cluster::bus> bus_; // main's; its status goes to tasks_
};

// host name:port, the name of a node that is given none (host name:pid-N when the kernel
// picks the port).
std::string default_node_name(int port);

} // namespace qs
