// Stop: every session's pools are stored, or written to the recovery file that the
// next start merges.
#include <algorithm>
#include <map>

#include "qs/server/logic/log.h"
#include "qs/server/logic/log_redaction.h"
#include "qs/server/logic/recovery_file.h"
#include "qs/server/logic/server_state.h"
#include "qs/store/database.h"
#include "pool_kind.h"

namespace qs {

namespace {

using clock = std::chrono::steady_clock;

// Appends what the session holds only in memory to out, by msgpool column.
void collect_unstored(session& s, std::vector<recovery_entry>& out) REQUIRES(session_table)
{
    std::size_t column = 0;
    for (auto k : pools::all) {
        for (auto& entry : pools::pool(s, k).unstored())
            out.push_back({s.name, column, std::move(entry)});
        ++column;
    }
}

} // namespace

void server_state::begin_stop()
{
    const auto deadline = (clock::now() + options_.store_retry).time_since_epoch().count();
    auto current = stop_deadline_.load();
    while (deadline < current && !stop_deadline_.compare_exchange_weak(current, deadline)) {
    }
}

clock::time_point server_state::stop_deadline() const
{
    return clock::time_point(clock::duration(stop_deadline_.load()));
}

std::size_t server_state::store_all()
{
    begin_stop();
    const std::vector<session_handle> all = sessions_.all();
    std::vector<recovery_entry> left;
    for (const auto& handle : all) {
        if (clock::now() < stop_deadline()) {
            try {
                logout_with_retry(handle);
                continue;
            } catch (...) {
                log_error("Could not store the pending messages of " + handle->name + ": " +
                          reason_of(std::current_exception()));
            }
        }
        state_guard user(user_lock(handle->name), false);
        {
            state_guard table(sessions_.lock());
            collect_unstored(*handle, left);
        }
        close_session(handle);
    }
    if (left.empty())
        return 0;
    try {
        append_recovery(options_.recovery_file, left);
        log_line("Wrote " + std::to_string(left.size()) + " pending messages to " + options_.recovery_file +
                 "; the next start stores them.");
    } catch (...) {
        log_error("Could not write the recovery file: " + reason_of(std::current_exception()) +
                  "; the messages follow.");
        for (const auto& unstored : left)
            log_error(unstored.user + ": " + unstored.entry);
    }
    return left.size();
}

std::size_t server_state::merge_recovery()
{
    std::size_t bad_lines = 0;
    auto entries = read_recovery(options_.recovery_file, bad_lines);
    if (bad_lines > 0)
        log_warning(std::to_string(bad_lines) + " unreadable lines of " + options_.recovery_file + " were skipped.");
    std::vector<std::string> users; // in the order they first appear
    std::map<std::string, database::pools> chunks;
    for (const auto& e : entries) {
        auto [it, added] = chunks.try_emplace(e.user);
        if (added)
            users.push_back(e.user);
        std::string& chunk = it->second[e.column];
        chunk += (chunk.empty() ? "" : "|") + e.entry;
    }
    for (std::size_t i = 0; i < users.size(); ++i) {
        try {
            db_->append_unbounded(users[i], chunks[users[i]]);
        } catch (...) {
            std::vector<recovery_entry> rest;
            for (auto& e : entries)
                if (std::find(users.begin() + static_cast<std::ptrdiff_t>(i), users.end(), e.user) != users.end())
                    rest.push_back(std::move(e));
            rewrite_recovery(options_.recovery_file, rest);
            throw;
        }
    }
    rewrite_recovery(options_.recovery_file, {});
    return entries.size();
}

} // namespace qs
