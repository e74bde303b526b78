#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "qs/server/logic/accounts.h"
#include "qs/server/logic/database_figures.h"
#include "qs/server/logic/groups.h"
#include "qs/server/logic/login_throttle.h"
#include "qs/server/logic/node_sessions.h"
#include "qs/server/logic/password_work.h"
#include "qs/server/logic/pool_kind.h"
#include "qs/server/logic/qsexcpt.h"
#include "qs/server/logic/session.h"
#include "qs/server/logic/session_directory.h"
#include "qs/server/logic/settings.h"
#include "qs/server/logic/state_lock.h"
#include "qs/server/logic/thread_cache.h"
#include "qs/server/logic/timed_tasks.h"
#include "qs/server/logic/waiters.h"
#include "qs/store/db_error.h"
#include "qs/store/login_row.h"
#include "qs/store/pool_options.h"

namespace qs {

class database;

struct state_options {
    settings config; // qsserver.conf as main read it
    pool_options database;
    // How long stop keeps trying to store a user's pools while the database is
    // unavailable.
    std::chrono::milliseconds store_retry{20000};
    // Where stop writes what could not be stored; the next start merges it.
    std::string recovery_file = "qsserver.recovery";
};

// The node: it owns the parts of the command logic (accounts and groups in the
// database, the sessions logged in here with their pending pools and waiting selects)
// and runs what spans several of them: login, logout, sending, fetching, putting back,
// status and stop. docs/architecture.md draws the parts.
// Every operation is safe from any number of threads. Refusals are qs::qsexcpt,
// whose message is the reply; record-layer failures pass as qs::exception or db_error.
// A database that cannot be reached or does not answer in time gives
// "The database is not available."; the log says so once, with the driver's words,
// and once more when it is back. Until then operations that need it are refused at once.
//
// Locking: the table lock of sessions_ guards the node's sessions and every field of
// each; directory_ (who is online, the one-login rule) takes it for moments. A user's
// lock (one of user_locks_, by name) makes that user's stored pools and session change
// together: login's load, logout's store, every delivery ("the session, else msgpool")
// and every hand-out of entries that are still stored hold it. Order: user lock, then
// table lock; never two user locks at once; no database work under the table lock.
// Both are taken through state_guard: callbacks completed under them (select replies)
// run once the thread holds neither. On an event loop a user lock that is taken, and
// the database, throw would_block instead of waiting. accounts_ takes its own lock
// alone. Functions "called with the table lock held" REQUIRE it (and the
// session_table role that comes with it); the user locks guard rows in the database,
// which the analysis does not see.
class server_state {
public:
    using pool_kind = qs::pool_kind;

    explicit server_state(state_options options = {});
    ~server_state();
    server_state(const server_state&) = delete;
    server_state& operator=(const server_state&) = delete;

    // Sessions.
    session_handle find_session(const std::string& name); // null when absent
    void close_session(const session_handle& handle);
    bool is_active(const session_handle& handle); // still in the table
    void publish_status(const session_handle& handle, const std::string& status);
    void get_status(const std::string& name, std::string& out);

    // Accounts. Login, new_user and set_info with a password come in steps, so that no
    // database worker waits on Argon2: each returns null or false, holding no lock, when it
    // has set up work (password_work) that must run first; called again with the same work
    // once it has run, it goes on. The overloads without work run every step here.
    session_handle login(const std::string& name, const std::string& password, password_work& work);
    session_handle login(const std::string& name, const std::string& password);
    // Stores the pools and logs out. While the database is unavailable it logs out all
    // the same without waiting: the session stays (orphaned) with its pools, to be
    // stored when the database is back, or by the next login, a delivery, or stop.
    void logout(const session_handle& handle);
    // The end of a connection: logs the user out as logout() does. Any other failure
    // leaves the session orphaned too and is rethrown for the log.
    void logout_user(const std::string& name);
    // The same for a connection's own session handle.
    void end_session(const session_handle& handle);
    // Messages, status and events.
    // A send to a user who is online leaves the entry in memory; ack, when given, hears
    // once it is safe: handed out in a reply that left, or stored (at once when no
    // select for its kind waited lately, else after spill_delay_ms). Without ack the
    // entry stays in memory until handed out or logout. To a user who is not online the
    // send returns once the entry is stored.
    void send_message(const std::string& sender, const std::string& receiver, const std::string& text,
                      const ack_handle& ack = nullptr);
    void send_custom_message(const std::string& sender, const std::string& receiver, const std::string& text,
                             const ack_handle& ack = nullptr);
    void send_group_message(const std::string& sender, const std::string& group, const std::string& text,
                            const ack_handle& ack = nullptr);
    using hand_out = qs::hand_out;
    void get_message(const session_handle& handle, std::string& out, hand_out* given = nullptr);
    void get_group_message(const session_handle& handle, std::string& out, hand_out* given = nullptr);
    void get_custom_message(const session_handle& handle, std::string& out, hand_out* given = nullptr);
    // Puts what was handed out back at the head of its pools, in order; into msgpool
    // when the session is gone. May wait on the database when needs_database().
    void put_back(const hand_out& given);
    void set_status(const std::string& name, const std::string& status);

    // Replaces the user's contact list; the user's session sees it at once.
    void set_contact_list(const std::string& user, const std::string& list);

    // The cluster's side. A directory other than the local one, before any session.
    void use_directory(std::unique_ptr<session_directory> directory);
    // An entry another node routed here: into the receiver's session on this node, else
    // stored. Never routes again. May wait on the user lock and the database.
    void deliver_here(pool_kind kind, const std::string& receiver, const std::string& entry, const ack_handle& ack);
    // The status of name changed: its contacts logged in here hear.
    void status_event(const std::string& name, const std::string& contacts);
    // The same for name on another node, which announced status: the events read it.
    void remote_status_event(const std::string& name, const std::string& status, const std::string& contacts);
    // Entries stored for name behind those its session here knows of (appended by
    // another node, or while the bus was away) join the session; stored_lengths, the
    // lengths of the three stored pools as the caller read them, spares the reading when
    // nothing changed. May wait on the user lock and the database.
    void absorb_stored(const std::string& name, const std::array<std::size_t, 3>& stored_lengths);
    node_sessions& sessions() noexcept { return sessions_; }

    // The database-backed parts: users and groups.
    qs::accounts& accounts() noexcept { return accounts_; }
    qs::groups& groups() noexcept { return groups_; }
    // Waiting selects (park, select).
    qs::waiters& waiters() noexcept { return waiters_; }

    // Whether an operation would now run without the database (it may still need it if
    // the state changes before it runs).
    bool delivers_in_memory(const std::string& receiver);
    bool fetches_in_memory(const session_handle& handle, pool_kind kind);
    bool logs_out_in_memory(const session_handle& handle);
    bool status_in_memory(const std::string& name);

    // Stop: stores every session's pools, orphans included, retrying until store_retry
    // has passed; what still cannot be stored goes to the recovery file. Returns how
    // many entries went there.
    std::size_t store_all();
    // Merges a recovery file left by an earlier stop into msgpool and removes it.
    // Returns how many entries were merged; throws db_error when the database refuses
    // (the file then stays for the next start).
    std::size_t merge_recovery();
    // From now on, retries to store pools end store_retry from now at the latest.
    void begin_stop();

    // Start: connects once and reads the three tables; throws db_error with the driver's
    // reason when it cannot. Returns what the database is ("SQLite", "PostgreSQL", "ODBC").
    std::string check_database();

    // Failed logins, shared by every connection.
    login_throttle& throttle() noexcept { return throttle_; }

    // Whether the database counts as available now (cheap): false from a failure to
    // reach it, or a statement past db_timeout, until a probe finds it back.
    bool database_available() const noexcept;

    // Statements run on the database since the start (for tests and figures).
    std::uint64_t statements_run() const noexcept;
    // The database connections' figures now (takes the pool's lock for a moment).
    database_figures database_now() const;
    const settings& config() const noexcept { return options_.config; }
    // The most text one reply may carry: min(buff_size, 1024) - 5.
    std::size_t reply_limit() const { return options_.config.reply_limit(); }
    static constexpr std::size_t event_cap = waiters::event_cap;
    static constexpr std::chrono::milliseconds retry_pause{200};

private:
    mutex& user_lock(const std::string& name);
    void store_unstored(const session_handle& handle);
    void logout_stored(const session_handle& handle);
    void logout_locked(const session_handle& handle);
    void logout_with_retry(const session_handle& handle);
    void leave_orphaned(const session_handle& handle);
    void availability_changed(bool available, const db_error& why);
    void store_orphans();
    void finish_logout(const session_handle& handle);
    std::chrono::steady_clock::time_point stop_deadline() const;
    void deliver(pool_kind kind, const std::string& receiver, const std::string& entry, const ack_handle& ack,
                 bool may_route = true);
    void status_event(const std::string& name, const std::string& contacts, const std::string* remote);
    void schedule_spill(const session_handle& handle, timed_tasks::clock::time_point selecting_until)
        REQUIRES(session_table);
    void schedule_spill_at(const session_handle& handle, timed_tasks::clock::time_point at) REQUIRES(session_table);
    std::chrono::milliseconds spill_delay() const;
    void spill(const session_handle& handle);
    void begin_spill(session& s, std::array<std::size_t, 3>& first, std::array<std::size_t, 3>& count,
                     pool_texts& chunks) REQUIRES(session_table);
    void schedule_younger(const session_handle& handle) REQUIRES(session_table);
    void append_stored(pool_kind kind, const std::string& receiver, const std::string& entry);
    void send(pool_kind kind, const std::string& sender, const std::string& receiver, const std::string& text,
              const ack_handle& ack);
    void fetch(pool_kind kind, const session_handle& handle, std::string& out, hand_out* given);
    void hand_out_stored(pool_kind kind, const std::string& name, const std::string& before, const std::string& after);
    using due_list = waiters::due_list;
    void put_back_active(const hand_out& given);
    void restore_stored_heads(database& d, const std::string& name, const hand_out& given);
    void select_stored(const session_handle& handle, unsigned wanted, std::string& reply, hand_out& given);

    // Members: const, thread-safe themselves, guarded by a named lock, or atomic.
    const state_options options_;
    const std::unique_ptr<database> db_;           // thread-safe itself
    qs::accounts accounts_;                        // thread-safe itself
    qs::groups groups_;                            // thread-safe itself
    node_sessions sessions_;                       // thread-safe itself: its table lock guards every session here
    std::unique_ptr<session_directory> directory_; // thread-safe itself: a local_directory over sessions_
    std::array<mutex, 64> user_locks_;             // by hash of the user name; each guards its users' stored pools
    login_throttle throttle_;                      // thread-safe itself
    std::atomic<std::chrono::steady_clock::rep> stop_deadline_{
        std::chrono::steady_clock::time_point::max().time_since_epoch().count()};
    qs::waiters waiters_;     // thread-safe itself: the parked selects of sessions_
    timed_tasks spills_;      // thread-safe itself: stores what waits in memory too long
    thread_cache background_; // thread-safe itself: stores orphaned sessions once the database is back; destroyed first
};

} // namespace qs
