// Login and logout: a session made from the stored row, its pools stored at the end.
#include <optional>
#include <thread>

#include "qs/server/logic/log.h"
#include "qs/store/password_hash.h"
#include "qs/server/logic/settings.h"
#include "qs/server/logic/server_state.h"
#include "database_access.h"

namespace qs {

// The password is checked against the row read under the user lock; a check made for
// what the row held before (the password changed meanwhile) is made again.
session_handle server_state::login(const std::string& name, const std::string& password, password_work& work)
{
    state_guard user(user_lock(name), false);
    const auto row = accounts_.read_login(name);
    const auto stored = row ? std::optional<std::string>(row->password) : std::nullopt;
    if (!work.checked(stored, password)) {
        work.check(stored, password, config().hashed_passwords);
        if (work.pending())
            return nullptr;
    }
    if (!row)
        throw qsexcpt(qsexcpt::invalid_username);
    accounts_.remember(name);
    if (!work.matched())
        throw qsexcpt(qsexcpt::invalid_password);
    if (config().hashed_passwords && !is_password_hash(row->password))
        accounts_.replace_with_hash(name, row->password, work.new_hash());
    session_handle handle = directory_->claim(name, *row);
    publish_status(handle, "online");
    return handle;
}

session_handle server_state::login(const std::string& name, const std::string& password)
{
    password_work work;
    for (;;) {
        if (session_handle handle = login(name, password, work))
            return handle;
        work.run();
    }
}

// Appends the entries kept only in the session to the stored pools. Called with the
// user lock held; throws db_error when the database refuses.
void server_state::store_unstored(const session_handle& handle)
{
    database::pools chunks;
    {
        state_guard table(sessions_.lock());
        for (std::size_t i = 0; i < pool_kinds; ++i)
            chunks[i] = handle->pools[i].unstored_text(); // msgpool's order
    }
    db_->append_unbounded(handle->name, chunks);
    std::vector<ack_handle> safe;
    {
        state_guard table(sessions_.lock());
        for (auto& pool : handle->pools) {
            auto acks = pool.mark_all_stored();
            safe.insert(safe.end(), acks.begin(), acks.end());
        }
    }
    for (auto& ack : safe)
        ack->confirm();
}

void server_state::logout(const session_handle& handle)
{
    try {
        logout_stored(handle);
    } catch (const qsexcpt& e) {
        if (e.code() != qsexcpt::database_unavailable)
            throw;
        leave_orphaned(handle);
        log_error("Could not store the pending messages of " + handle->name +
                  " now; they are stored when the database is back.");
    }
}

// Logs out once the pools are stored; throws when they cannot be.
void server_state::logout_stored(const session_handle& handle)
{
    if (!handle)
        throw qsexcpt(qsexcpt::user_not_online);
    state_guard user(user_lock(handle->name), false);
    logout_locked(handle);
}

void server_state::logout_locked(const session_handle& handle)
{
    {
        state_guard table(sessions_.lock());
        if (handle->closed || handle->closing)
            throw qsexcpt(qsexcpt::user_not_online);
        handle->closing = true; // fetches wait it out; deliveries wait for the user lock
    }
    try {
        with_db(*db_, [&](database&) { store_unstored(handle); });
    } catch (...) {
        due_list due;
        {
            state_guard table(sessions_.lock());
            handle->closing = false;
            waiters_.wake(handle, due);
        }
        waiters_.run_due(due);
        throw;
    }
    finish_logout(handle);
}

// The pools are stored: empty the session, tell the contacts, remove it.
void server_state::finish_logout(const session_handle& handle)
{
    {
        state_guard table(sessions_.lock());
        for (auto& pool : handle->pools)
            pool.clear();
        handle->pending.fill(false);
    }
    publish_status(handle, "offline");
    {
        state_guard table(sessions_.lock());
        handle->closing = false;
    }
    close_session(handle);
}

void server_state::logout_user(const std::string& name)
{
    end_session(find_session(name));
}

void server_state::end_session(const session_handle& handle)
{
    if (!is_active(handle))
        return;
    try {
        logout(handle);
    } catch (...) {
        leave_orphaned(handle);
        throw;
    }
}

// The session's pools wait in memory for the database: the session stays, orphaned, for
// the first of the database's return, the next login, a delivery and stop to store. Its
// waiting selects get "" (their connection is gone or logged out) and the contacts see
// the user offline.
void server_state::leave_orphaned(const session_handle& handle)
{
    due_list due;
    {
        state_guard table(sessions_.lock());
        if (!handle->closed)
            handle->orphaned = true;
        waiters_.drop(handle, due); // nothing may go to them
    }
    waiters_.run_due(due);
    publish_status(handle, "offline");
}

// Logs out, trying again while the database is unavailable, until store_retry has
// passed or stop's time is up.
void server_state::logout_with_retry(const session_handle& handle)
{
    const auto deadline = std::min(std::chrono::steady_clock::now() + options_.store_retry, stop_deadline());
    for (;;) {
        try {
            logout_stored(handle);
            return;
        } catch (const qsexcpt& e) {
            if (e.code() != qsexcpt::database_unavailable || std::chrono::steady_clock::now() >= deadline)
                throw;
        }
        std::this_thread::sleep_for(retry_pause);
    }
}

} // namespace qs
