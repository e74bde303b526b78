// Messages, status and the waiting select.
#include "qs/list_encoding.h"
#include "qs/message_entry.h"
#include "qs/server_state.h"
#include "qs/settings.h"
#include "qs/store_codes.h"
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

} // namespace

void server_state::deliver(kind k, const std::string& receiver, const std::string& entry)
{
    std::lock_guard user(user_lock(receiver));
    {
        std::lock_guard table(table_lock_);
        auto it = sessions_.find(receiver);
        if (it != sessions_.end()) {
            session& s = *it->second;
            pending_pool& pool = pools::pool(s, k);
            if (pool.size_with(entry) > max_pool())
                throw qsexcpt(qsexcpt::message_box_full);
            pool.push(entry);
            pools::flag(s, k) = true;
            s.changed.notify_all();
            return;
        }
    }
    append_stored(k, receiver, entry);
}

void server_state::append_stored(kind k, const std::string& receiver, const std::string& entry)
{
    msg_pool p;
    p.find_user(receiver);
    p.open();
    p.edit();
    const std::string grown = append_entry(pools::stored(p, k), entry);
    if (grown.size() > max_pool())
        throw qsexcpt(qsexcpt::message_box_full);
    pools::store(p, k, grown);
    try {
        p.update();
    } catch (const exception& e) {
        if (e.code() == store_codes::value_too_long)
            throw qsexcpt(qsexcpt::message_box_full);
        throw;
    }
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
    std::lock_guard table(table_lock_);
    if (!handle || handle->closed || handle->closing)
        throw qsexcpt(qsexcpt::user_not_online);
    pending_pool& pool = pools::pool(*handle, k);
    if (pool.empty())
        throw qsexcpt(qsexcpt::no_messages);
    out = pool.take(reply_limit());
    pools::flag(*handle, k) = !pool.empty();
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
    take_sections(*handle, wanted, reply);
}

// Builds a select reply from what is pending, oldest first, within the reply limit;
// what does not fit stays pending. Called with the table lock held.
void server_state::take_sections(session& s, unsigned wanted, std::string& reply)
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
        const std::string taken = pool.take(room_after(label.size()));
        if (!taken.empty() || pool.empty()) {
            reply += (reply.empty() ? "" : "|") + label + taken;
            pools::flag(s, k) = !pool.empty();
        }
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
        s.events.pop_front();
    }
}

} // namespace qs
