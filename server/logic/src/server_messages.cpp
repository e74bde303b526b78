// Messages, status and the waiting select.
#include <algorithm>
#include <optional>

#include "qs/store/list_encoding.h"
#include "qs/server/logic/log.h"
#include "qs/server/logic/log_redaction.h"
#include "qs/server/logic/message_entry.h"
#include "qs/server/logic/server_metrics.h"
#include "qs/server/logic/server_state.h"
#include "qs/server/logic/settings.h"
#include "qs/store/store_codes.h"
#include "database_access.h"
#include "pool_kind.h"

namespace qs {

namespace {

using pools::column_of;
using pools::kind;

std::size_t max_pool(const settings& config)
{
    return static_cast<std::size_t>(config.max_field_len);
}

// A message not taken, counted.
qsexcpt refusal(int code)
{
    add_one(metrics().messages_refused);
    return qsexcpt(code);
}

// Pools and select replies are '|'-separated: a text holding one would forge entries.
void refuse_separator(const std::string& text)
{
    if (text.find('|') != std::string::npos)
        throw refusal(qsexcpt::text_has_bar);
}

// An entry must fit a select reply with its section label, and a pool.
void check_entry(kind k, const std::string& entry, const settings& config)
{
    if (std::string(pools::label(k)).size() + entry.size() > config.reply_limit() || entry.size() > max_pool(config))
        throw refusal(qsexcpt::message_too_long);
}

void record(server_state::hand_out* given, const session_handle& handle, kind k, const pending_pool::taken& taken)
{
    if (given == nullptr)
        return;
    given->session = handle;
    given->taken[column_of(k)] = taken;
}

} // namespace

void server_state::deliver(kind k, const std::string& receiver, const std::string& entry, const ack_handle& ack,
                           bool may_route)
{
    state_guard user(user_lock(receiver), false);
    session_handle orphan;
    due_list due;
    {
        state_guard table(sessions_.lock());
        const session_handle& found = sessions_.find(receiver);
        if (found && !found->orphaned) {
            session& s = *found;
            pending_pool& pool = pools::pool(s, k);
            if (pool.size_with(entry) > max_pool(config()))
                throw refusal(qsexcpt::message_box_full);
            if (ack)
                ack->attach();
            pool.push(entry, ack, timed_tasks::clock::now());
            add_one(metrics().messages_delivered);
            pools::flag(s, k) = true;
            if (ack) // its sender waits for it to be safe
                schedule_spill(found, s.selecting_until[index_of(k)]);
            waiters_.wake(found, due);
            waiters_.run_due(due); // once the user lock is released
            return;
        }
        orphan = found;
    }
    if (orphan) // what it holds goes first, so that the stored pool keeps its order
        logout_locked(orphan);
    else if (may_route && directory_->route(k, receiver, entry, ack))
        return;
    append_stored(k, receiver, entry);
}

void server_state::deliver_here(kind k, const std::string& receiver, const std::string& entry, const ack_handle& ack)
{
    deliver(k, receiver, entry, ack, false);
}

// What waits only in memory is stored once nobody is expected to select it: at once
// when no select for its kind waited lately, else once it has waited spill_delay_ms,
// unless it is handed out first. Called with the table lock held.
void server_state::schedule_spill(const session_handle& handle, timed_tasks::clock::time_point selecting_until)
{
    const auto now = timed_tasks::clock::now();
    schedule_spill_at(handle, now < selecting_until ? now + spill_delay() : now);
}

void server_state::schedule_spill_at(const session_handle& handle, timed_tasks::clock::time_point at)
{
    if (handle->spill_scheduled)
        return;
    handle->spill_scheduled = true;
    spills_.run_at(at, [this, handle] {
        try {
            spill(handle);
        } catch (...) {
            log_error("Could not store the pending messages of " + handle->name + ": " +
                      reason_of(std::current_exception()));
        }
    });
}

std::chrono::milliseconds server_state::spill_delay() const
{
    return std::chrono::milliseconds(config().spill_delay_ms);
}

// On the spill thread: appends the entries due to be stored (see schedule_spill) to the
// stored pools; the younger ones get a spill of their own. Meanwhile those count as
// stored, so no hand-out takes them without the user lock held here. Their senders hear
// once they are committed; when they cannot be stored, those a sender waits for are
// taken out and the sender hears of the failure.
void server_state::spill(const session_handle& handle)
{
    state_guard user(user_lock(handle->name));
    std::array<std::size_t, 3> first{}, count{};
    database::pools chunks;
    {
        state_guard table(sessions_.lock());
        handle->spill_scheduled = false;
        if (handle->closed || handle->closing)
            return;
        begin_spill(*handle, first, count, chunks);
        schedule_younger(handle);
    }
    if (count == std::array<std::size_t, 3>{})
        return;
    std::vector<ack_handle> settled;
    bool stored = false;
    try {
        with_db(*db_, [&](database& d) { d.append_unbounded(handle->name, chunks); });
        stored = true;
    } catch (...) {
        log_error("Could not store the pending messages of " + handle->name + " (" +
                  reason_of(std::current_exception()) + "); their senders are told.");
    }
    {
        state_guard table(sessions_.lock());
        for (kind k : pools::all) {
            pending_pool& pool = pools::pool(*handle, k);
            const auto c = index_of(k);
            auto acks = stored ? pool.stored_after(first[c], count[c]) : pool.not_stored(first[c], count[c]);
            settled.insert(settled.end(), acks.begin(), acks.end());
            pools::flag(*handle, k) = !pool.empty();
        }
    }
    for (auto& ack : settled)
        stored ? ack->confirm() : ack->withdraw();
}

// Every entry of a kind nobody selected lately, else those that waited spill_delay_ms.
void server_state::begin_spill(session& s, std::array<std::size_t, 3>& first, std::array<std::size_t, 3>& count,
                               database::pools& chunks)
{
    const auto now = timed_tasks::clock::now();
    for (kind k : pools::all) {
        pending_pool& pool = pools::pool(s, k);
        const auto c = index_of(k);
        const auto cutoff = now < s.selecting_until[c] ? now - spill_delay() : timed_tasks::clock::time_point::max();
        const std::size_t due = pool.unstored_until(cutoff);
        first[c] = pool.stored();
        chunks[c] = pool.unstored_text(due);
        count[c] = pool.begin_storing(due);
    }
}

void server_state::schedule_younger(const session_handle& handle)
{
    auto oldest = timed_tasks::clock::time_point::max();
    for (kind k : pools::all)
        if (const pending_pool& pool = pools::pool(*handle, k); pool.has_unstored())
            oldest = std::min(oldest, pool.oldest_unstored());
    if (oldest != timed_tasks::clock::time_point::max())
        schedule_spill_at(handle, oldest + spill_delay());
}

// One statement appends within the bound; "Ok." follows only once it is committed.
void server_state::append_stored(kind k, const std::string& receiver, const std::string& entry)
{
    const auto result =
        with_db(*db_, [&](database& d) { return d.append(column_of(k), receiver, entry, max_pool(config())); });
    if (result == database::append_result::full)
        throw refusal(qsexcpt::message_box_full);
    if (result == database::append_result::no_row) {
        add_one(metrics().messages_refused);
        throw exception(store_codes::no_such_user);
    }
    add_one(metrics().messages_stored);
}

void server_state::send(kind k, const std::string& sender, const std::string& receiver, const std::string& text,
                        const ack_handle& ack)
{
    refuse_separator(text);
    const std::string entry = message_entry(sender, text, time_stamp());
    check_entry(k, entry, config());
    if (!accounts_.user_exists(receiver))
        throw refusal(qsexcpt::invalid_username);
    deliver(k, receiver, entry, ack);
}

void server_state::send_message(const std::string& sender, const std::string& receiver, const std::string& text,
                                const ack_handle& ack)
{
    send(kind::personal, sender, receiver, text, ack);
}

void server_state::send_custom_message(const std::string& sender, const std::string& receiver, const std::string& text,
                                       const ack_handle& ack)
{
    send(kind::custom, sender, receiver, text, ack);
}

void server_state::send_group_message(const std::string& sender, const std::string& group, const std::string& text,
                                      const ack_handle& ack)
{
    refuse_separator(text);
    std::string members;
    groups_.get_member_list(group, members);
    const std::string entry = group_message_entry(group, sender, text, time_stamp());
    check_entry(kind::group, entry, config());
    bool all_delivered = true;
    for (const auto& member : split_list(members)) {
        try {
            deliver(kind::group, member, entry, ack);
        } catch (...) { // full box, or no pool row: the others still get it
            all_delivered = false;
        }
    }
    if (!all_delivered)
        throw qsexcpt(qsexcpt::not_delivered_to_all);
}

void server_state::fetch(kind k, const session_handle& handle, std::string& out, hand_out* given)
{
    std::optional<state_guard> user;
    for (;;) {
        state_guard table(sessions_.lock());
        if (!handle || handle->closed || handle->closing)
            throw qsexcpt(qsexcpt::user_not_online);
        pending_pool& pool = pools::pool(*handle, k);
        if (pool.empty())
            throw qsexcpt(qsexcpt::no_messages);
        if (pool.stored() > 0 && !user) { // the hand-out changes the stored pool too
            table.unlock();
            user.emplace(user_lock(handle->name), false);
            continue;
        }
        const std::string before = pool.stored_text();
        const auto taken = pool.take(reply_limit());
        pools::flag(*handle, k) = !pool.empty();
        if (taken.stored == 0) {
            out = taken.text();
            record(given, handle, k, taken);
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
        record(given, handle, k, taken);
        return;
    }
}

// Removes handed-out entries from the stored pool in one statement: it still holds
// before, and keeps after. Another server may have appended meanwhile; then the
// appended part stays behind what is kept. Called with the user lock held.
void server_state::hand_out_stored(kind k, const std::string& name, const std::string& before, const std::string& after)
{
    with_db(*db_, [&](database& d) {
        const auto c = column_of(k);
        if (d.replace_if(c, name, before, after))
            return;
        const std::string now = d.read_pool(c, name);
        if (now.size() > before.size() && now.compare(0, before.size(), before) == 0 && now[before.size()] == '|') {
            const std::string rest = now.substr(before.size() + 1);
            if (d.replace_if(c, name, now, after.empty() ? rest : after + "|" + rest))
                return;
        }
        log_warning("The stored messages of " + name + " changed while they were handed out; they stay stored.");
    });
}

void server_state::get_message(const session_handle& handle, std::string& out, hand_out* given)
{
    fetch(kind::personal, handle, out, given);
}

void server_state::get_group_message(const session_handle& handle, std::string& out, hand_out* given)
{
    fetch(kind::group, handle, out, given);
}

void server_state::get_custom_message(const session_handle& handle, std::string& out, hand_out* given)
{
    fetch(kind::custom, handle, out, given);
}

void server_state::set_status(const std::string& name, const std::string& status)
{
    refuse_separator(status);
    if (qs::waiters::status_section(name, status).size() > reply_limit())
        throw qsexcpt(qsexcpt::status_too_long);
    session_handle handle = find_session(name);
    if (handle)
        publish_status(handle, status);
}

} // namespace qs
