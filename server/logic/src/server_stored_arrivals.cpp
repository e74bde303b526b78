// Entries stored for a user whose session is on this node, behind the ones it knows of.
#include "qs/server/logic/server_state.h"
#include "database_access.h"
#include "pool_kind.h"

namespace qs {

namespace {

using pools::kind;

// What now holds beyond known: the entries after known's, or nothing when now does not
// begin with known.
std::string arrived(const std::string& known, const std::string& now)
{
    if (now.size() <= known.size() || now.compare(0, known.size(), known) != 0)
        return {};
    if (known.empty())
        return now;
    return now[known.size()] == '|' ? now.substr(known.size() + 1) : std::string();
}

} // namespace

// Under the user lock no hand-out or store of this node changes the stored pools, so
// what they hold beyond the session's stored entries was appended by someone else.
void server_state::absorb_stored(const std::string& name, const std::array<std::size_t, 3>& stored_lengths)
{
    state_guard user(user_lock(name));
    std::array<std::string, 3> known;
    {
        state_guard table(sessions_.lock());
        const session_handle& handle = sessions_.find(name);
        if (!handle || handle->orphaned || handle->closing)
            return;
        bool same = true;
        for (kind k : pools::all) {
            const auto c = static_cast<std::size_t>(pools::column_of(k));
            known[c] = pools::pool(*handle, k).stored_text();
            same = same && known[c].size() == stored_lengths[c];
        }
        if (same)
            return;
    }
    std::array<std::string, 3> now;
    with_db(*db_, [&](database& d) {
        for (kind k : pools::all)
            now[static_cast<std::size_t>(pools::column_of(k))] = d.read_pool(pools::column_of(k), name);
    });
    due_list due;
    {
        state_guard table(sessions_.lock());
        const session_handle& handle = sessions_.find(name);
        if (!handle || handle->orphaned || handle->closing)
            return;
        for (kind k : pools::all) {
            const auto c = static_cast<std::size_t>(pools::column_of(k));
            const std::string extra = arrived(known[c], now[c]);
            if (extra.empty())
                continue;
            pools::pool(*handle, k).push_stored(extra);
            pools::flag(*handle, k) = true;
        }
        waiters_.wake(handle, due);
    }
    waiters_.run_due(due);
}

} // namespace qs
