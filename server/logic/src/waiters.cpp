// The waiting select: parked in its session, completed by what makes it answerable.
#include "qs/server/logic/waiters.h"

#include <future>

#include "qs/server/logic/command_words.h"
#include "qs/server/logic/qsexcpt.h"
#include "qs/server/logic/settings.h"
#include "qs/store/list_encoding.h"
#include "pool_kind.h"

namespace qs {

namespace {

using pools::column_of;
using pools::kind;

// A pool kind's bit is 1 << index_of(kind).
enum wanted_bits : unsigned { want_msg = 1, want_grpmsg = 2, want_cusmsg = 4, want_status = 8 };

unsigned bit_of(kind k)
{
    return 1u << index_of(k);
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
void note_selecting(session& s, unsigned wanted, std::chrono::milliseconds spill_delay) REQUIRES(session_table)
{
    const auto until = std::chrono::steady_clock::now() + spill_delay;
    for (kind k : pools::all)
        if (wanted & bit_of(k))
            s.selecting_until[index_of(k)] = until;
}

} // namespace

void waiters::park(const session_handle& handle, const std::string& mask, select_done done)
{
    const unsigned wanted = parse_mask(mask);
    if (wanted == 0 || !handle) {
        done(std::string(), {});
        return;
    }
    park_wanted(handle, wanted, std::move(done));
}

void waiters::park_wanted(const session_handle& handle, unsigned wanted, select_done done)
{
    due_list due;
    {
        state_guard table(sessions_.lock());
        handle->parked.push_back({wanted, std::move(done)});
        note_selecting(*handle, wanted, std::chrono::milliseconds(config_.spill_delay_ms));
        wake(handle, due);
    }
    run_due(due);
}

void waiters::select(const session_handle& handle, const std::string& mask, std::string& reply)
{
    std::promise<std::string> answered;
    park(handle, mask, [&answered](std::string r, const hand_out&) { answered.set_value(std::move(r)); });
    reply += answered.get_future().get();
}

void waiters::wake(const session_handle& handle, due_list& due)
{
    auto& parked = handle->parked;
    for (auto it = parked.begin(); it != parked.end();) {
        if (handle->closed) {
            due.push_back(due_select{std::move(it->done), handle, 0, std::string(), hand_out{}});
        } else if (handle->closing || !pending(*handle, it->wanted)) {
            ++it;
            continue;
        } else if (has_stored_head(*handle, it->wanted)) { // the hand-out needs the database
            due.push_back(due_select{std::move(it->done), handle, it->wanted, std::string(), hand_out{}});
        } else {
            due_select d{std::move(it->done), handle, 0, std::string(), {handle, {}}};
            take_sections(*handle, it->wanted, d.reply, &d.given.taken);
            due.push_back(std::move(d));
        }
        note_selecting(*handle, it->wanted, std::chrono::milliseconds(config_.spill_delay_ms));
        it = parked.erase(it);
    }
}

void waiters::drop(const session_handle& handle, due_list& due)
{
    for (auto& p : handle->parked)
        due.push_back(due_select{std::move(p.done), handle, 0, std::string(), hand_out{}});
    handle->parked.clear();
}

std::string waiters::status_event(const std::string& name)
{
    return std::string(command_keyword(command_word::getstatus)) + " " + name;
}

std::string waiters::status_section(const std::string& name, const std::string& status)
{
    return status_event(name) + ": " + status;
}

void waiters::push_event(const session_handle& handle, const std::string& event, due_list& due)
{
    handle->events.push_back(event);
    if (handle->events.size() > event_cap)
        handle->events.pop_front();
    wake(handle, due);
}

// A reply that hands out stored entries needs the database and the user's lock: it is
// made on a thread of its own.
void waiters::run_due(due_list& due)
{
    for (auto& d : due) {
        if (d.stored_wanted == 0)
            run_outside_state_locks(
                [done = std::move(d.done), reply = std::move(d.reply), given = std::move(d.given)]() mutable {
                    done(std::move(reply), std::move(given));
                });
        else
            stored_replies_.run([this, d = std::move(d)]() mutable { answer_stored(d); });
    }
    due.clear();
}

void waiters::answer_stored(due_select& d)
{
    std::string reply;
    hand_out given{d.handle, {}};
    try {
        take_stored_(d.handle, d.stored_wanted, reply, given);
    } catch (const qsexcpt& e) {
        d.done(e.message, {});
        return;
    } catch (...) {
        d.done(std::string(), {});
        return;
    }
    if (reply.empty() && !d.handle->closed)
        park_wanted(d.handle, d.stored_wanted, std::move(d.done)); // another took it first
    else
        d.done(std::move(reply), std::move(given));
}

void waiters::take_sections(session& s, unsigned wanted, std::string& reply, std::array<pending_pool::taken, 3>* taken,
                            std::deque<std::string>* events_taken)
{
    const std::size_t limit = config_.reply_limit();
    auto room_after = [&](std::size_t label) {
        const std::size_t used = reply.size() + (reply.empty() ? 0 : 1) + label;
        return used < limit ? limit - used : 0;
    };
    for (kind k : pools::all) {
        if (!(wanted & bit_of(k)) || !pools::flag(s, k))
            continue;
        const std::string& label = pools::label(k);
        pending_pool& pool = pools::pool(s, k);
        auto out = pool.take(room_after(label.size()));
        if (!out.entries.empty() || pool.empty()) {
            reply += (reply.empty() ? "" : "|") + label + out.text();
            pools::flag(s, k) = !pool.empty();
        }
        if (taken != nullptr)
            (*taken)[index_of(k)] = std::move(out);
    }
    if (!(wanted & want_status))
        return;
    while (!s.events.empty()) {
        const std::string& event = s.events.front();
        const std::string name = event.substr(status_event("").size());
        const std::string section = status_section(name, sessions_.status_for_event(name));
        if (section.size() > limit) { // can never be sent
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
