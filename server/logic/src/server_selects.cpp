// The waiting select: parked in its session, completed by what makes it answerable.
#include <future>

#include "qs/store/list_encoding.h"
#include "qs/server/server_state.h"
#include "qs/server/settings.h"
#include "database_access.h"
#include "pool_kind.h"

namespace qs {

namespace {

using pools::kind;
using pools::column_of;

enum wanted_bits : unsigned { want_msg = 1, want_grpmsg = 2, want_cusmsg = 4, want_status = 8 };

unsigned bit_of(kind k)
{
    return k == kind::personal ? want_msg : k == kind::group ? want_grpmsg : want_cusmsg;
}

unsigned parse_mask(const std::string& mask)
{
    unsigned wanted = 0;
    for (const auto& piece : split_list(mask)) {
        if (piece == "MSG")
            wanted |= want_msg;
        else if (piece == "GRPMSG")
            wanted |= want_grpmsg;
        else if (piece == "CUSMSG")
            wanted |= want_cusmsg;
        else if (piece == "STATUS")
            wanted |= want_status;
    }
    return wanted;
}

bool pending(session& s, unsigned wanted) REQUIRES(session_table)
{
    for (kind k : pools::all)
        if ((wanted & bit_of(k)) && pools::flag(s, k))
            return true;
    return (wanted & want_status) && !s.events.empty();
}

bool has_stored_head(session& s, unsigned wanted) REQUIRES(session_table)
{
    for (kind k : pools::all)
        if ((wanted & bit_of(k)) && pools::flag(s, k) && pools::pool(s, k).stored() > 0)
            return true;
    return false;
}

// A select for these kinds waits, or was just answered: another is expected soon.
void note_selecting(session& s, unsigned wanted) REQUIRES(session_table)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(config.spill_delay_ms);
    for (kind k : pools::all)
        if (wanted & bit_of(k))
            s.selecting_until[static_cast<std::size_t>(column_of(k))] = until;
}

} // namespace

void server_state::park_select(const session_handle& handle, const std::string& mask, select_done done)
{
    const unsigned wanted = parse_mask(mask);
    if (wanted == 0 || !handle) {
        done(std::string(), {});
        return;
    }
    park_wanted(handle, wanted, std::move(done));
}

void server_state::park_wanted(const session_handle& handle, unsigned wanted, select_done done)
{
    due_list due;
    {
        state_guard table(sessions_.lock());
        handle->parked.push_back({wanted, std::move(done)});
        note_selecting(*handle, wanted);
        wake(handle, due);
    }
    run_due(due);
}

void server_state::select_events(const session_handle& handle, const std::string& mask, std::string& reply)
{
    std::promise<std::string> answered;
    park_select(handle, mask, [&answered](std::string r, hand_out) { answered.set_value(std::move(r)); });
    reply += answered.get_future().get();
}

// Takes every parked select of the session that can be answered now, oldest first, into
// due: with "" once the session is gone. Called with the table lock held.
void server_state::wake(const session_handle& handle, due_list& due)
{
    auto& parked = handle->parked;
    for (auto it = parked.begin(); it != parked.end();) {
        if (handle->closed) {
            due.push_back(due_select{std::move(it->done), handle, 0, std::string(), hand_out{}});
        } else if (handle->closing || !pending(*handle, it->wanted)) {
            ++it;
            continue;
        } else if (has_stored_head(*handle, it->wanted)) {  // the hand-out needs the database
            due.push_back(due_select{std::move(it->done), handle, it->wanted, std::string(), hand_out{}});
        } else {
            due_select d{std::move(it->done), handle, 0, std::string(), {handle, {}}};
            take_sections(*handle, it->wanted, d.reply, &d.given.taken);
            due.push_back(std::move(d));
        }
        note_selecting(*handle, it->wanted);
        it = parked.erase(it);
    }
}

// Completes what wake() took, once the thread holds no state lock. A reply that hands
// out stored entries needs the database and the user's lock: it is made on a thread of
// its own.
void server_state::run_due(due_list& due)
{
    for (auto& d : due) {
        if (d.stored_wanted == 0)
            run_outside_state_locks([done = std::move(d.done), reply = std::move(d.reply),
                                     given = std::move(d.given)]() mutable { done(std::move(reply), std::move(given)); });
        else
            stored_replies_.run([this, d = std::move(d)]() mutable { answer_stored(d); });
    }
    due.clear();
}

void server_state::answer_stored(due_select& d)
{
    std::string reply;
    hand_out given{d.handle, {}};
    try {
        select_stored(d.handle, d.stored_wanted, reply, given);
    } catch (const qsexcpt& e) {
        d.done(e.message, {});
        return;
    } catch (...) {
        d.done(std::string(), {});
        return;
    }
    if (reply.empty() && is_active(d.handle))
        park_wanted(d.handle, d.stored_wanted, std::move(d.done));  // another took it first
    else
        d.done(std::move(reply), std::move(given));
}

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
        before[static_cast<std::size_t>(column_of(k))] = pools::pool(*handle, k).stored_text();
    std::array<pending_pool::taken, 3>& taken = given.taken;
    std::deque<std::string> events;
    take_sections(*handle, wanted, reply, &taken, &events);
    std::array<std::string, 3> after;
    for (kind k : pools::all)
        after[static_cast<std::size_t>(column_of(k))] = pools::pool(*handle, k).stored_text();
    table.unlock();
    try {
        for (kind k : pools::all) {
            const auto c = static_cast<std::size_t>(column_of(k));
            if (taken[c].stored > 0)
                hand_out_stored(k, handle->name, before[c], after[c]);
        }
    } catch (...) {
        table.lock();
        for (kind k : pools::all) {
            pools::pool(*handle, k).put_back(taken[static_cast<std::size_t>(column_of(k))]);
            pools::flag(*handle, k) = !pools::pool(*handle, k).empty();
        }
        handle->events.insert(handle->events.begin(), events.begin(), events.end());
        reply.clear();
        due_list due;
        wake(handle, due);
        table.unlock();
        run_due(due);
        throw;
    }
}

// Builds a select reply from what is pending, oldest first, within the reply limit;
// what does not fit stays pending. What it takes is kept in taken and events_taken
// when given, by msgpool column. Called with the table lock held.
void server_state::take_sections(session& s, unsigned wanted, std::string& reply,
                                 std::array<pending_pool::taken, 3>* taken, std::deque<std::string>* events_taken)
{
    const std::size_t limit = reply_limit();
    auto room_after = [&](std::size_t label) {
        const std::size_t used = reply.size() + (reply.empty() ? 0 : 1) + label;
        return used < limit ? limit - used : 0;
    };
    for (kind k : pools::all) {
        if (!(wanted & bit_of(k)) || !pools::flag(s, k))
            continue;
        const std::string label = pools::label(k);
        pending_pool& pool = pools::pool(s, k);
        auto out = pool.take(room_after(label.size()));
        if (!out.entries.empty() || pool.empty()) {
            reply += (reply.empty() ? "" : "|") + label + out.text();
            pools::flag(s, k) = !pool.empty();
        }
        if (taken != nullptr)
            (*taken)[static_cast<std::size_t>(column_of(k))] = std::move(out);
    }
    if (!(wanted & want_status))
        return;
    while (!s.events.empty()) {
        const std::string& event = s.events.front();
        std::string status;
        if (const session_handle& other = sessions_.find(event.substr(10)))
            status = other->status;
        const std::string section = event + ": " + status;
        if (section.size() > limit) {  // can never be sent
            s.events.pop_front();
            continue;
        }
        if (section.size() > room_after(0) && !reply.empty())
            break;
        reply += (reply.empty() ? "" : "|") + section;
        if (events_taken != nullptr)
            events_taken->push_back(event);
        s.events.pop_front();
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
    database::pools chunks;  // the session is gone: after what is stored, nothing lost
    for (kind k : pools::all)
        chunks[column_of(k)] = given.taken[column_of(k)].text();
    with_db(db_, [&](database& d) { d.append_unbounded(h->name, chunks); });
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
    with_db(db_, [&](database& d) { restore_stored_heads(d, h->name, back); });
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
        wake(h, due);
    }
    run_due(due);
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
