#include "cluster_directory.h"

#include <algorithm>
#include <functional>

#include "qs/cluster/bus.h"
#include "qs/server/logic/log.h"
#include "qs/server/logic/log_redaction.h"
#include "qs/server/logic/qsexcpt.h"
#include "client_connection.h"

namespace qs {

namespace wire = cluster_wire;
using clock = std::chrono::steady_clock;

namespace {

// A statement on the shared database for a command: never on an event loop (the command
// moves to a worker), and a database out of reach answers as the node's own would.
template <typename Work>
auto shared(Work&& work)
{
    if (on_event_loop())
        throw would_block();
    try {
        return work();
    } catch (const db_error& e) {
        if (!e.is_unavailable())
            throw;
        throw qsexcpt(qsexcpt::database_unavailable);
    }
}

} // namespace

// Settlements may come after the directory stopped publishing (a select reply that
// leaves during the stop): they then find no bus, and the sender's node stores the entry
// once its wait is over.
struct cluster_directory::outbox {
    qs::mutex lock;
    cluster::bus* bus GUARDED_BY(lock) = nullptr;

    bool publish(std::string subject, std::string data)
    {
        qs::lock_guard guard(lock); // publish() only queues
        return bus != nullptr && bus->publish(std::move(subject), std::move(data));
    }
};

cluster_directory::cluster_directory(server_state& state, cluster_node& node, std::chrono::milliseconds answer_limit)
    : state_(state), node_(node), local_(state.sessions()), answer_limit_(answer_limit),
      outbox_(std::make_shared<outbox>())
{
    {
        qs::lock_guard guard(outbox_->lock);
        outbox_->bus = &node.bus();
    }
    qs::lock_guard guard(intake_lock_);
    for (auto& lane : lanes_)
        lane = std::make_unique<timed_tasks>();
}

cluster_directory::~cluster_directory()
{
    stop_intake();
    detach();
}

void cluster_directory::start()
{
    for (std::size_t lane = 0; lane < lane_count; ++lane)
        node_.bus().pull(wire::deliver_subject(node_.name(), lane), [this](const std::vector<std::string>& batch) {
            for (const auto& data : batch)
                on_delivery(data);
        });
    node_.bus().pull(wire::settled_subject(node_.name()),
                     [this](const std::vector<std::string>& batch) { on_settlements(batch); });
    node_.bus().subscribe(
        wire::status_subject, [this](cluster::task t) { post(intake_lane, std::move(t)); },
        [this](const std::string&, const std::string& data) { on_status(data); });
    {
        qs::lock_guard guard(lock_);
        ticks_ = std::make_unique<timed_tasks>();
    }
    sweep_later();
}

// The lanes are joined outside the intake lock: the intake lane's task may be posting.
// Only the first call stops the pulling: the node may be gone at a later one.
void cluster_directory::stop_intake()
{
    decltype(lanes_) lanes;
    {
        qs::lock_guard guard(intake_lock_);
        if (!open_)
            return;
        open_ = false;
        lanes.swap(lanes_);
    }
    node_.bus().stop_pulling(); // the delivery or settlement under way ends first
    for (auto& lane : lanes)
        lane.reset(); // the task under way ends first
}

void cluster_directory::detach()
{
    std::unique_ptr<timed_tasks> ticks;
    {
        qs::lock_guard guard(lock_);
        ticks.swap(ticks_);
    }
    ticks.reset(); // the sweep under way ends first; it queues no other
    qs::lock_guard guard(outbox_->lock);
    outbox_->bus = nullptr;
}

void cluster_directory::post(std::size_t lane, std::function<void()> task)
{
    qs::lock_guard guard(intake_lock_);
    if (open_)
        lanes_[lane]->run_at(clock::now(), std::move(task));
}

// ---- Sessions

// The shared database decides first: a user held by another live node is online there.
// The row says "online" at once, as the login's own status change will.
session_handle cluster_directory::claim(const std::string& name, const login_row& row)
{
    if (!shared([&] { return node_.directory().claim(name, node_.name(), "online"); }))
        throw qsexcpt(qsexcpt::user_online);
    {
        qs::lock_guard guard(holders_lock_);
        holders_.erase(name);
    }
    return local_.claim(name, row);
}

void cluster_directory::release(const session_handle& handle)
{
    local_.release(handle);
    if (state_.find_session(handle->name)) // a newer session of the user keeps the claim
        return;
    if (on_event_loop()) { // not expected (waits() keeps logouts off the loops): the sweep releases it
        qs::lock_guard guard(lock_);
        unreleased_.push_back(handle->name);
        return;
    }
    try {
        node_.directory().release(handle->name, node_.name());
    } catch (...) {
        log_warning("Could not record that " + handle->name + " logged out (" + reason_of(std::current_exception()) +
                    "); tried again each second.");
        qs::lock_guard guard(lock_);
        unreleased_.push_back(handle->name);
    }
}

bool cluster_directory::status_of(const std::string& name, std::string& out)
{
    if (local_.status_of(name, out))
        return true;
    const auto status = shared([&] { return node_.directory().status_of(name); });
    if (!status)
        return false;
    out = *status;
    return true;
}

// ---- Deliveries

bool cluster_directory::routes_at_once(const std::string& receiver)
{
    return node_.bus().connected() && cached_holder(receiver).has_value();
}

std::optional<std::string> cluster_directory::cached_holder(const std::string& name)
{
    qs::lock_guard guard(holders_lock_);
    const auto it = holders_.find(name);
    if (it == holders_.end())
        return std::nullopt;
    return it->second;
}

void cluster_directory::forget_holders_but(const std::vector<std::string>& live)
{
    qs::lock_guard guard(holders_lock_);
    std::erase_if(holders_, [&](const auto& h) { return std::find(live.begin(), live.end(), h.second) == live.end(); });
}

bool cluster_directory::route(pool_kind kind, const std::string& receiver, const std::string& entry,
                              const ack_handle& ack)
{
    if (!node_.bus().connected())
        return false; // stored: the holder's sweep takes it
    auto holder = cached_holder(receiver);
    if (!holder)
        holder = shared([&] { return node_.directory().holder(receiver); });
    if (!holder || *holder == node_.name())
        return false;
    std::uint64_t id = 0;
    if (ack) {
        ack->attach();
        qs::lock_guard guard(lock_);
        id = ++last_id_;
        waiting_.emplace(id, waiting{ack, *holder, kind, receiver, entry, clock::now() + answer_limit_});
    }
    if (outbox_->publish(
            wire::deliver_subject(*holder, wire::lane_of(receiver, lane_count)),
            wire::encode_delivery(id, node_.name(), static_cast<int>(kind), receiver, entry, ack != nullptr)))
        return true;
    if (ack) {
        {
            qs::lock_guard guard(lock_);
            waiting_.erase(id);
        }
        ack->confirm(); // undoes the attach: the caller stores the entry
    }
    return false;
}

// On the receiver's lane: into the session here (or stored), and the sender's node hears
// once it is safe, or at once that it was refused.
void cluster_directory::on_delivery(const std::string& data)
{
    const auto d = wire::decode_delivery(data);
    if (!d) {
        log_warning("Dropped a delivery from the cluster bus that could not be read.");
        return;
    }
    auto ack = d->answer ? std::make_shared<delivery_ack>(-1) : nullptr;
    int refusal = -2; // none
    try {
        state_.deliver_here(static_cast<pool_kind>(d->kind), d->receiver, d->entry, ack);
    } catch (const qsexcpt& e) {
        refusal = e.code();
    } catch (...) {
        refusal = -1;
        log_error("Could not deliver an entry from node " + d->from + " to " + d->receiver + " (" +
                  reason_of(std::current_exception()) + ").");
    }
    if (!ack)
        return;
    auto send = [box = outbox_, to = wire::settled_subject(d->from)](const wire::settlement& s) {
        return box->publish(to, wire::encode(s));
    };
    if (refusal != -2) {
        send(wire::settlement{d->id, false, refusal});
        ack->release([](bool, int) {});
        return;
    }
    ack->release([send, id = d->id](bool safe, int failure) { send(wire::settlement{id, safe, safe ? -1 : failure}); });
}

// Each sender's connection answers the whole batch in one write.
void cluster_directory::on_settlements(const std::vector<std::string>& batch)
{
    std::vector<std::pair<wire::settlement, waiting>> settled;
    settled.reserve(batch.size());
    {
        qs::lock_guard guard(lock_);
        for (const auto& data : batch) {
            const auto s = wire::decode_settlement(data);
            if (!s)
                continue;
            auto it = waiting_.find(s->id);
            if (it == waiting_.end())
                continue; // stored here already: its wait was over
            settled.emplace_back(*s, std::move(it->second));
            waiting_.erase(it);
        }
    }
    client_connection::settle_run run;
    for (auto& [s, w] : settled) {
        if (s.safe)
            w.ack->confirm();
        else if (s.refusal < 0 || w.kind == pool_kind::group) // a group send says "not delivered to all"
            w.ack->withdraw();
        else
            w.ack->refuse(s.refusal);
    }
}

// ---- Status

// The row first, then the event: a contact who asks after the event reads the new status.
void cluster_directory::status_changed(const std::string& name, const std::string& status, const std::string& contacts)
{
    post(status_lane, [this, name, status, contacts] {
        try {
            node_.directory().set_status(name, node_.name(), status);
        } catch (...) {
            log_warning("Could not record the status of " + name + " (" + reason_of(std::current_exception()) + ").");
        }
        outbox_->publish(wire::status_subject, wire::encode(wire::status_change{node_.name(), name, status, contacts}));
    });
}

void cluster_directory::on_status(const std::string& data)
{
    const auto s = wire::decode_status_change(data);
    if (!s || s->node == node_.name())
        return;
    {
        qs::lock_guard guard(holders_lock_);
        if (s->status != "offline")
            holders_[s->name] = s->node;
        else if (auto it = holders_.find(s->name); it != holders_.end() && it->second == s->node)
            holders_.erase(it);
    }
    state_.remote_status_event(s->name, s->status, s->contacts);
}

// ---- The sweep

void cluster_directory::sweep_later()
{
    qs::lock_guard guard(lock_);
    if (!ticks_)
        return;
    ticks_->run_at(clock::now() + sweep_every, [this] {
        sweep();
        sweep_later();
    });
}

void cluster_directory::sweep()
{
    try {
        retry_releases();
        absorb_stored();
        store_unanswered();
        qs::lock_guard guard(lock_);
        sweep_failed_ = false;
    } catch (...) {
        const std::string why = reason_of(std::current_exception());
        qs::lock_guard guard(lock_);
        if (!sweep_failed_)
            log_error("The cluster sweep failed (" + why + "); it tries again each second.");
        sweep_failed_ = true;
    }
}

void cluster_directory::absorb_stored()
{
    for (const auto& user : node_.directory().stored_of(node_.name()))
        state_.absorb_stored(user.user, user.lengths);
}

// A node whose lease ran out, or that did not answer in time, may be gone: the entry is
// delivered here (stored, unless the receiver came to this node meanwhile). Should that
// node have taken it after all, its receiver gets it twice; no entry is lost.
void cluster_directory::store_unanswered()
{
    {
        qs::lock_guard guard(lock_);
        if (waiting_.empty())
            return;
    }
    const auto live = node_.directory().live_nodes();
    forget_holders_but(live);
    std::vector<waiting> overdue;
    {
        qs::lock_guard guard(lock_);
        const auto now = clock::now();
        for (auto it = waiting_.begin(); it != waiting_.end();) {
            const bool gone = std::find(live.begin(), live.end(), it->second.node) == live.end();
            if (!gone && it->second.until > now) {
                ++it;
                continue;
            }
            overdue.push_back(std::move(it->second));
            it = waiting_.erase(it);
        }
    }
    for (auto& w : overdue) {
        log_warning("Node " + w.node + " did not answer for an entry to " + w.receiver + "; it is stored here.");
        try {
            state_.deliver_here(w.kind, w.receiver, w.entry, w.ack);
            w.ack->confirm();
        } catch (...) {
            w.ack->withdraw();
        }
    }
}

void cluster_directory::retry_releases()
{
    std::vector<std::string> names;
    {
        qs::lock_guard guard(lock_);
        names.swap(unreleased_);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        try {
            if (!state_.find_session(names[i]))
                node_.directory().release(names[i], node_.name());
        } catch (...) {
            qs::lock_guard guard(lock_);
            unreleased_.insert(unreleased_.end(), names.begin() + static_cast<std::ptrdiff_t>(i), names.end());
            throw;
        }
    }
}

} // namespace qs
