#pragma once

#include <array>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "qs/server/logic/node_sessions.h"
#include "qs/server/logic/settings.h"
#include "qs/server/logic/session.h"
#include "qs/server/logic/thread_cache.h"

namespace qs {

// Selects parked in their sessions, and waking them: a select waits, holding no thread,
// until a kind it names is pending in its session, then gets what fits in one reply.
// Owned by server_state; safe from any thread.
//
// Locking: the parked selects, the events and the pools are fields of their session,
// under the table lock of sessions (session_table). Functions "called with the table
// lock held" only collect what is due; run_due() completes it once the caller holds no
// state lock: done never runs under one. A reply that hands out entries still stored
// is made by take_stored, on a thread of stored_replies_, since it waits for the user's
// lock and the database.
class waiters {
public:
    using select_done = std::function<void(std::string reply, hand_out given)>;
    // Takes what a select for wanted may hand out, stored entries included, into reply
    // and given; leaves reply empty when another took it first. Throws qsexcpt with the
    // reply when the stored pools cannot be changed.
    using stored_reply =
        std::function<void(const session_handle& handle, unsigned wanted, std::string& reply, hand_out& given)>;
    struct due_select {
        select_done done;
        session_handle handle;
        unsigned stored_wanted; // non-zero: the reply hands out stored entries, to take then
        std::string reply;
        hand_out given;
    };
    using due_list = std::vector<due_select>;

    waiters(node_sessions& sessions, const settings& config, stored_reply take_stored)
        : sessions_(sessions), config_(config), take_stored_(std::move(take_stored))
    {
    }
    waiters(const waiters&) = delete;
    waiters& operator=(const waiters&) = delete;

    // A select: done gets what fits in one reply once a kind named in mask is pending,
    // at once when one is; "" at once when the mask names no kind, and when the session
    // goes away. done runs exactly once, outside every lock, on the thread that
    // completes it.
    void park(const session_handle& handle, const std::string& mask, select_done done);
    // The same, waiting for the reply.
    void select(const session_handle& handle, const std::string& mask, std::string& reply);

    // Called with the table lock held: takes every parked select of the session that can
    // be answered now into due, oldest first; with "" once the session is closed.
    void wake(const session_handle& handle, due_list& due) REQUIRES(session_table);
    // Called with the table lock held: every parked select of the session gets "".
    void drop(const session_handle& handle, due_list& due) REQUIRES(session_table);
    // Called with the table lock held: a status event for the session, then wake().
    void push_event(const session_handle& handle, const std::string& event, due_list& due) REQUIRES(session_table);
    // Completes what was collected; call it holding no state lock.
    void run_due(due_list& due);

    // Called with the table lock held: builds a select reply from what is pending,
    // oldest first, within the reply limit; what does not fit stays pending. What it
    // takes is kept in taken and events_taken when given, by msgpool column.
    void take_sections(session& s, unsigned wanted, std::string& reply,
                       std::array<pending_pool::taken, 3>* taken = nullptr,
                       std::deque<std::string>* events_taken = nullptr) REQUIRES(session_table);

    static constexpr std::size_t event_cap = 256;

    // A status event as a session keeps it, "getstatus NAME", and the section of a
    // select reply it becomes, "getstatus NAME: STATUS".
    static std::string status_event(const std::string& name);
    static std::string status_section(const std::string& name, const std::string& status);

private:
    void park_wanted(const session_handle& handle, unsigned wanted, select_done done);
    void answer_stored(due_select& d);

    node_sessions& sessions_; // thread-safe itself; owned by server_state
    const settings& config_;  // server_state's
    const stored_reply take_stored_;
    thread_cache stored_replies_; // thread-safe itself: select replies that hand out stored entries; last
};

} // namespace qs
