// Messages, status and the waiting select.
#include "qs/list_encoding.h"
#include "qs/message_entry.h"
#include "qs/server_state.h"
#include "qs/settings.h"
#include "qs/store_codes.h"
#include "database_access.h"
#include "pool_kind.h"

namespace qs {

namespace {

using pools::kind;

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

bool pending(session& s, unsigned wanted)
{
    for (kind k : pools::all)
        if ((wanted & bit_of(k)) && pools::flag(s, k))
            return true;
    return (wanted & want_status) && !s.events.empty();
}

std::size_t max_pool()
{
    return static_cast<std::size_t>(config.max_field_len);
}

// An entry must fit a select reply with its section label, and a pool.
void check_entry(kind k, const std::string& entry)
{
    if (std::string(pools::label(k)).size() + entry.size() > server_state::reply_limit() || entry.size() > max_pool())
        throw qsexcpt(qsexcpt::message_too_long);
}

database::column column_of(kind k)
{
    return k == kind::personal ? database::messages : k == kind::group ? database::groupmessages
                                                                       : database::custommessages;
}

bool has_stored_head(session& s, unsigned wanted)
{
    for (kind k : pools::all)
        if ((wanted & bit_of(k)) && pools::flag(s, k) && pools::pool(s, k).stored() > 0)
            return true;
    return false;
}

} // namespace

void server_state::deliver(kind k, const std::string& receiver, const std::string& entry)
{
    std::lock_guard user(user_lock(receiver));
    session_handle orphan;
    {
        std::lock_guard table(table_lock_);
        auto it = sessions_.find(receiver);
        if (it != sessions_.end() && !it->second->orphaned) {
            session& s = *it->second;
            pending_pool& pool = pools::pool(s, k);
            if (pool.size_with(entry) > max_pool())
                throw qsexcpt(qsexcpt::message_box_full);
            pool.push(entry);
            pools::flag(s, k) = true;
            s.changed.notify_all();
            return;
        }
        if (it != sessions_.end())
            orphan = it->second;
    }
    if (orphan)  // what it holds goes first, so that the stored pool keeps its order
        logout_locked(orphan);
    append_stored(k, receiver, entry);
}

// One statement appends within the bound; "Ok." follows only once it is committed.
void server_state::append_stored(kind k, const std::string& receiver, const std::string& entry)
{
    const auto result = with_db([&](database& d) { return d.append(column_of(k), receiver, entry, max_pool()); });
    if (result == database::append_result::full)
        throw qsexcpt(qsexcpt::message_box_full);
    if (result == database::append_result::no_row)
        throw exception(store_codes::no_such_user);
}

void server_state::send(kind k, const std::string& sender, const std::string& receiver, const std::string& text)
{
    const std::string entry = message_entry(sender, text, time_stamp());
    check_entry(k, entry);
    if (!user_exists(receiver))
        throw qsexcpt(qsexcpt::invalid_username);
    deliver(k, receiver, entry);
}

void server_state::send_message(const std::string& sender, const std::string& receiver, const std::string& text)
{
    send(kind::personal, sender, receiver, text);
}

void server_state::send_custom_message(const std::string& sender, const std::string& receiver,
                                       const std::string& text)
{
    send(kind::custom, sender, receiver, text);
}

void server_state::send_group_message(const std::string& sender, const std::string& group, const std::string& text)
{
    std::string members;
    get_member_list(group, members);
    const std::string entry = group_message_entry(group, sender, text, time_stamp());
    check_entry(kind::group, entry);
    bool all_delivered = true;
    for (const auto& member : split_list(members)) {
        try {
            deliver(kind::group, member, entry);
        } catch (...) {  // full box, or no pool row: the others still get it
            all_delivered = false;
        }
    }
    if (!all_delivered)
        throw qsexcpt(qsexcpt::not_delivered_to_all);
}

void server_state::fetch(kind k, const session_handle& handle, std::string& out)
{
    std::unique_lock<std::mutex> user;
    for (;;) {
        std::unique_lock table(table_lock_);
        if (!handle || handle->closed || handle->closing)
            throw qsexcpt(qsexcpt::user_not_online);
        pending_pool& pool = pools::pool(*handle, k);
        if (pool.empty())
            throw qsexcpt(qsexcpt::no_messages);
        if (pool.stored() > 0 && !user) {  // the hand-out changes the stored pool too
            table.unlock();
            user = std::unique_lock(user_lock(handle->name));
            continue;
        }
        const std::string before = pool.stored_text();
        const auto taken = pool.take(reply_limit());
        pools::flag(*handle, k) = !pool.empty();
        if (taken.stored == 0) {
            out = taken.text();
            return;
        }
        const std::string after = pool.stored_text();
        table.unlock();
        try {
            hand_out_stored(k, handle->name, before, after);
        } catch (...) {
            table.lock();
            pool.put_back(taken);
            pools::flag(*handle, k) = true;
            throw;
        }
        out = taken.text();
        return;
    }
}

// Removes handed-out entries from the stored pool in one statement: it still holds
// before, and keeps after. Another server may have appended meanwhile; then the
// appended part stays behind what is kept. Called with the user lock held.
void server_state::hand_out_stored(kind k, const std::string& name, const std::string& before,
                                   const std::string& after)
{
    with_db([&](database& d) {
        const auto c = column_of(k);
        if (d.replace_if(c, name, before, after))
            return;
        const std::string now = d.read_pool(c, name);
        if (now.size() > before.size() && now.compare(0, before.size(), before) == 0 && now[before.size()] == '|') {
            const std::string rest = now.substr(before.size() + 1);
            if (d.replace_if(c, name, now, after.empty() ? rest : after + "|" + rest))
                return;
        }
        log_line("The stored messages of " + name + " changed while they were handed out; they stay stored.");
    });
}

void server_state::get_message(const session_handle& handle, std::string& out)
{
    fetch(kind::personal, handle, out);
}

void server_state::get_group_message(const session_handle& handle, std::string& out)
{
    fetch(kind::group, handle, out);
}

void server_state::get_custom_message(const session_handle& handle, std::string& out)
{
    fetch(kind::custom, handle, out);
}

void server_state::set_status(const std::string& name, const std::string& status)
{
    if (std::string("getstatus ").size() + name.size() + 2 + status.size() > reply_limit())
        throw qsexcpt(qsexcpt::status_too_long);
    session_handle handle = find_session(name);
    if (handle)
        publish_status(handle, status);
}

void server_state::select_events(const session_handle& handle, const std::string& mask, std::string& reply)
{
    const unsigned wanted = parse_mask(mask);
    if (wanted == 0 || !handle)
        return;
    std::unique_lock table(table_lock_);
    for (;;) {
        if (handle->closed)
            return;
        if (!handle->closing && pending(*handle, wanted))
            break;
        handle->changed.wait(table);
    }
    if (!has_stored_head(*handle, wanted)) {
        take_sections(*handle, wanted, reply);
        return;
    }
    table.unlock();
    select_stored(handle, wanted, reply);
}

// A select reply that hands out entries still stored: taken under the user lock, and
// put back when the stored pools cannot be updated.
void server_state::select_stored(const session_handle& handle, unsigned wanted, std::string& reply)
{
    std::lock_guard user(user_lock(handle->name));
    std::unique_lock table(table_lock_);
    if (handle->closed || handle->closing)
        return;
    std::array<std::string, 3> before;
    for (kind k : pools::all)
        before[static_cast<std::size_t>(column_of(k))] = pools::pool(*handle, k).stored_text();
    std::array<pending_pool::taken, 3> taken;
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
        auto it = sessions_.find(event.substr(10));
        if (it != sessions_.end())
            status = it->second->status;
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
