#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "qs/server/logic/local_directory.h"
#include "qs/server/logic/server_state.h"
#include "qs/server/logic/timed_tasks.h"
#include "qs/sync/mutex.h"
#include "cluster_node.h"
#include "cluster_wire.h"

namespace qs {

// The directory of a node in a cluster. Who is online is recorded in the shared
// database (node_directory's sessions), one login per user in the whole cluster; the
// node's own sessions stay in its node_sessions, through a local_directory. An entry for
// a user logged in on another node goes there over the bus, and the sender hears "Ok."
// once that node says it is safe; status changes go to every node. Each second a sweep
// moves entries stored for this node's users (by other nodes, or while the bus was
// away) into their sessions, and stores the entries whose node did not answer in time.
//
// Threads: claim, release, route and status_of may wait on the database: the command
// logic calls them off the loops (waits()). status_changed never waits. Deliveries come
// on the subject of their receiver's lane, and each lane's are taken in order by a
// thread the bus pulls them on, so that a receiver's entries keep their order;
// settlements the same way, on a subject of their own. Status events are handed to the
// intake lane; status writes and their events run on a lane of their own, in order; the
// sweep on ticks_. lock_ guards the deliveries waiting for an answer, intake_lock_ the
// lanes.
class cluster_directory final : public session_directory {
public:
    // answer_limit: how long a delivery waits for the answer of a node that is still
    // live before it is stored here instead; for a node whose lease ran out, one sweep.
    cluster_directory(server_state& state, cluster_node& node, std::chrono::milliseconds answer_limit);
    ~cluster_directory() override;
    cluster_directory(const cluster_directory&) = delete;
    cluster_directory& operator=(const cluster_directory&) = delete;

    // Subscribes to this node's subjects and starts the sweep. May wait on the bus.
    void start();
    // Stop, before the sessions are stored: takes nothing more from the bus.
    void stop_intake();
    // Stop, once they are stored and before the bus closes: ends the sweep and the
    // publishing.
    void detach();

    session_handle claim(const std::string& name, const login_row& row) override;
    void release(const session_handle& handle) override;
    bool status_of(const std::string& name, std::string& out) override;
    bool waits() const override { return true; }
    bool route(pool_kind kind, const std::string& receiver, const std::string& entry, const ack_handle& ack) override;
    bool routes_at_once(const std::string& receiver) override;
    void status_changed(const std::string& name, const std::string& status, const std::string& contacts) override;

    static constexpr std::size_t lane_count = 2; // delivery subjects, by receiver
    static constexpr std::chrono::seconds sweep_every{1};

private:
    struct outbox; // the bus while the node publishes; shared with settlements
    struct waiting {
        ack_handle ack;
        std::string node; // the holder it went to
        pool_kind kind;
        std::string receiver;
        std::string entry;
        std::chrono::steady_clock::time_point until;
    };

    void post(std::size_t lane, std::function<void()> task);
    void on_delivery(const std::string& data);
    void on_settlements(const std::vector<std::string>& batch);
    void on_status(const std::string& data);
    void sweep_later();
    void sweep();
    void absorb_stored();
    void store_unanswered();
    void retry_releases();
    std::optional<std::string> cached_holder(const std::string& name);
    void forget_holders_but(const std::vector<std::string>& live);

    server_state& state_;
    cluster_node& node_;
    local_directory local_;
    const std::chrono::milliseconds answer_limit_;
    const std::shared_ptr<outbox> outbox_;

    qs::mutex lock_;
    std::uint64_t last_id_ GUARDED_BY(lock_) = 0;
    std::unordered_map<std::uint64_t, waiting> waiting_ GUARDED_BY(lock_);
    std::vector<std::string> unreleased_ GUARDED_BY(lock_); // releases the database refused, to retry
    bool sweep_failed_ GUARDED_BY(lock_) = false;           // said once per failing streak

    // Where the users of other nodes are, as their status changes said: routes without
    // asking the database. A stale entry costs nothing but time: the node it names
    // stores what it gets for a user it does not hold, and the holder's sweep finds it.
    qs::mutex holders_lock_;
    std::unordered_map<std::string, std::string> holders_ GUARDED_BY(holders_lock_);

    qs::mutex intake_lock_;
    bool open_ GUARDED_BY(intake_lock_) = true;
    // The lanes, destroyed (joined) at stop_intake: intake_lane takes the status events
    // from the bus and never waits; status_lane the status writes and their events.
    std::array<std::unique_ptr<timed_tasks>, 2> lanes_ GUARDED_BY(intake_lock_);
    static constexpr std::size_t intake_lane = 0;
    static constexpr std::size_t status_lane = 1;
    std::unique_ptr<timed_tasks> ticks_ GUARDED_BY(lock_); // the sweep, which queues its next run; ended by detach
};

} // namespace qs
