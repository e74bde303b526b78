// What replies hand out: stored entries taken for a select, and put back when a reply
// never left.
#include "qs/store/list_encoding.h"
#include "qs/server/logic/server_state.h"
#include "qs/server/logic/settings.h"
#include "database_access.h"
#include "pool_kind.h"

namespace qs {

namespace {

using pools::column_of;
using pools::kind;

} // namespace

// A select reply that hands out entries still stored: taken under the user lock, and
// put back when the stored pools cannot be updated.
void server_state::select_stored(const session_handle& handle, unsigned wanted, std::string& reply, hand_out& given)
{
    state_guard user(user_lock(handle->name), false);
    state_guard table(sessions_.lock());
    if (handle->closed || handle->closing)
        return;
    std::array<std::string, 3> before;
    for (kind k : pools::all)
        before[index_of(k)] = pools::pool(*handle, k).stored_text();
    std::array<pending_pool::taken, 3>& taken = given.taken;
    std::deque<std::string> events;
    waiters_.take_sections(*handle, wanted, reply, &taken, &events);
    std::array<std::string, 3> after;
    for (kind k : pools::all)
        after[index_of(k)] = pools::pool(*handle, k).stored_text();
    table.unlock();
    try {
        for (kind k : pools::all) {
            const auto c = index_of(k);
            if (taken[c].stored > 0)
                hand_out_stored(k, handle->name, before[c], after[c]);
        }
    } catch (...) {
        table.lock();
        for (kind k : pools::all) {
            pools::pool(*handle, k).put_back(taken[index_of(k)]);
            pools::flag(*handle, k) = !pools::pool(*handle, k).empty();
        }
        handle->events.insert(handle->events.begin(), events.begin(), events.end());
        reply.clear();
        due_list due;
        waiters_.wake(handle, due);
        table.unlock();
        waiters_.run_due(due);
        throw;
    }
}

} // namespace qs

namespace qs {

bool hand_out::empty() const
{
    for (const auto& t : taken)
        if (!t.entries.empty())
            return false;
    return true;
}

void hand_out::confirm()
{
    for (auto& t : taken)
        t.confirm();
}

bool hand_out::needs_database() const
{
    if (!session || empty())
        return false;
    for (const auto& t : taken)
        if (t.stored > 0)
            return true;
    return session->closed;
}

void server_state::put_back(const hand_out& given)
{
    if (!given.session || given.empty())
        return;
    const session_handle& h = given.session;
    state_guard user(user_lock(h->name), false);
    if (is_active(h)) {
        put_back_active(given);
        return;
    }
    database::pools chunks; // the session is gone: after what is stored, nothing lost
    for (kind k : pools::all)
        chunks[column_of(k)] = given.taken[column_of(k)].text();
    with_db(*db_, [&](database& d) { d.append_unbounded(h->name, chunks); });
    hand_out stored = given;
    stored.confirm();
}

// Entries that were stored go back to the head of their stored pool, and so do those
// that would land in front of stored entries (stored meanwhile); the others wait in
// memory again. Called with the user lock held.
void server_state::put_back_active(const hand_out& given)
{
    const session_handle& h = given.session;
    hand_out back = given;
    {
        state_guard table(sessions_.lock());
        for (kind k : pools::all) {
            auto& t = back.taken[column_of(k)];
            if (!t.entries.empty() && pools::pool(*h, k).stored() > 0)
                t.stored = t.entries.size();
        }
    }
    with_db(*db_, [&](database& d) { restore_stored_heads(d, h->name, back); });
    std::vector<ack_handle> safe;
    due_list due;
    {
        state_guard table(sessions_.lock());
        for (kind k : pools::all) {
            auto& t = back.taken[column_of(k)];
            if (t.stored > 0 && t.stored == t.entries.size())
                for (auto& ack : t.acks)
                    if (ack)
                        safe.push_back(std::move(ack));
            pools::pool(*h, k).put_back(t);
            pools::flag(*h, k) = !pools::pool(*h, k).empty();
        }
        schedule_spill(h, timed_tasks::clock::time_point::max());
        waiters_.wake(h, due);
    }
    waiters_.run_due(due);
    for (auto& ack : safe)
        ack->confirm();
}

// Entries that were removed from msgpool when handed out go back to the head of their
// stored pool. Called with the user lock held.
void server_state::restore_stored_heads(database& d, const std::string& name, const hand_out& given)
{
    for (kind k : pools::all) {
        const auto& t = given.taken[column_of(k)];
        if (t.stored == 0)
            continue;
        pending_pool::taken head;
        head.entries.assign(t.entries.begin(), t.entries.begin() + static_cast<std::ptrdiff_t>(t.stored));
        for (int attempt = 0; attempt < 5; ++attempt) {
            const std::string now = d.read_pool(column_of(k), name);
            if (d.replace_if(column_of(k), name, now, now.empty() ? head.text() : head.text() + "|" + now))
                break;
        }
    }
}

} // namespace qs
