#pragma once

#include <array>
#include <condition_variable>
#include <exception>
#include <vector>
#include <optional>
#include <string>

#include "qs/store/connection_pool.h"
#include "qs/store/login_row.h"
#include "qs/sync/mutex.h"

namespace qs {

// The server's statements by key, prepared on the connections of a pool. Every text is
// a bound parameter. Failures of the database pass through as db_error.
// Safe from any thread.
class database {
public:
    // The three message pools of a user, in msgpool's column order.
    enum column : std::size_t { messages = 0, groupmessages = 1, custommessages = 2 };
    using pools = pool_texts;
    using login_row = qs::login_row;
    struct group_lists {
        std::string members;
        std::string masters;
    };
    enum class append_result { appended, full, no_row };

    explicit database(pool_options options);

    connection_pool& pool() noexcept { return pool_; }

    // The user's password, contacts and stored pools in one statement; none when no
    // such user.
    std::optional<login_row> read_login(const std::string& name);
    bool user_exists(const std::string& name);
    // The same question on a connection of one's own (qsadmin's).
    static bool user_exists(odbc::connection& conn, const std::string& name);
    std::optional<group_lists> read_group(const std::string& name);

    // Appends entry to one stored pool in one statement, only while the pool then holds
    // at most limit characters, and returns once that is committed. Appends that arrive
    // while another commits are committed together, in one transaction.
    append_result append(column c, const std::string& name, const std::string& entry, std::size_t limit);
    // Appends each non-empty chunk (entries joined by "|") to its pool in one statement,
    // whatever the length; makes the row when it is missing.
    void append_unbounded(const std::string& name, const pools& chunks);
    // Replaces the pool by remaining when it still holds expected; false otherwise.
    bool replace_if(column c, const std::string& name, const std::string& expected, const std::string& remaining);
    // One stored pool; "" when there is no row.
    std::string read_pool(column c, const std::string& name);

private:
    struct queued_append;
    void append_batch(const std::vector<queued_append*>& batch);
    static append_result append_one(pooled_connection& pc, const queued_append& q);

    connection_pool pool_;
    qs::mutex append_lock_;                // also guards the done of every queued append
    std::condition_variable appends_done_; // a batch was committed or failed
    std::vector<queued_append*> append_queue_ GUARDED_BY(append_lock_);
    bool committing_ GUARDED_BY(append_lock_) = false; // a caller is committing a batch
};

} // namespace qs
