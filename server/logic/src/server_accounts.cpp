// Accounts: new users, login and logout, the information record.
#include <optional>
#include <thread>

#include "qs/server/log.h"
#include "qs/server/password_hash.h"
#include "qs/server/settings.h"
#include "qs/store/list_encoding.h"
#include "qs/store/new_user.h"
#include "qs/server/server_state.h"
#include "qs/store/store_codes.h"
#include "qs/store/user_info.h"
#include "database_access.h"

namespace qs {

namespace {

// Opens the user's row; a missing row (or any record-layer failure) is "Invalid username.".
void open_user(user_info& u, const std::string& name)
{
    u.find_user(name);
    try {
        u.open();
    } catch (const exception&) {
        throw qsexcpt(qsexcpt::invalid_username);
    }
}

std::string public_fields(const user_info& u)
{
    return std::string("nickname=") + u.get_nickname() + "|email=" + u.get_email() + "|tel=" + u.get_tel() +
           "|details=" + u.get_details() + "|country=" + u.get_country() + "|province=" + u.get_province() +
           "|city=" + u.get_city() + "|facepath=" + u.get_facepath() + "|question=" + u.get_question();
}

// Calls the setter named by key; false for any other key.
bool set_field(user_info& u, const std::string& key, const std::string& value)
{
    using setter = void (user_info::*)(const std::string&);
    static const std::pair<const char*, setter> setters[] = {
        {"nickname", &user_info::set_nickname}, {"email", &user_info::set_email},
        {"tel", &user_info::set_tel},           {"details", &user_info::set_details},
        {"country", &user_info::set_country},   {"province", &user_info::set_province},
        {"city", &user_info::set_city},         {"facepath", &user_info::set_facepath},
        {"password", &user_info::set_password}, {"question", &user_info::set_question},
        {"answer", &user_info::set_answer},
    };
    for (const auto& [name, set] : setters) {
        if (key == name) {
            (u.*set)(value);
            return true;
        }
    }
    return false;
}

// The value of the last password=... item; nullopt when there is none.
std::optional<std::string> last_password(const std::string& items)
{
    std::optional<std::string> found;
    for (const auto& piece : split_list(items))
        if (piece.rfind("password=", 0) == 0)
            found = piece.substr(9);
    return found;
}

// Both rows of a new user in one transaction on conn.
void insert_user(odbc::connection& conn, const std::string& name, const std::string& password)
{
    add_user_rows(conn, name, password);  // a connection left broken is reopened by the pool
}

} // namespace

// The password is checked against the row read under the user lock; a check made for
// what the row held before (the password changed meanwhile) is made again.
session_handle server_state::login(const std::string& name, const std::string& password, password_work& work)
{
    state_guard user(user_lock(name), false);
    const auto row = with_db([&](database& d) { return d.read_login(name); });
    const auto stored = row ? std::optional<std::string>(row->password) : std::nullopt;
    if (!work.checked(stored, password)) {
        work.check(stored, password, config.hashed_passwords);
        if (work.pending())
            return nullptr;
    }
    if (!row)
        throw qsexcpt(qsexcpt::invalid_username);
    remember_user(name);
    if (!work.matched())
        throw qsexcpt(qsexcpt::invalid_password);
    if (config.hashed_passwords && !is_password_hash(row->password))
        replace_with_hash(name, row->password, work.new_hash());
    session_handle handle;
    {
        state_guard table(table_lock_);
        auto [it, inserted] = sessions_.try_emplace(name, nullptr);
        if (!inserted && !it->second->orphaned)
            throw qsexcpt(qsexcpt::user_online);
        if (inserted) {
            it->second = std::make_shared<session>(name);
            load_pending(*it->second, *row);
        }
        handle = it->second;  // an orphan, left by a connection that ended, is taken over
        handle->orphaned = false;
        handle->contacts = row->contacts;
    }
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

// A password stored as typed becomes its hash (made by the login's check), unless it
// changed meanwhile. A failure is logged and leaves it as it was, for the next login.
void server_state::replace_with_hash(const std::string& name, const std::string& stored, const std::string& hash)
{
    try {
        if (hash.empty())
            throw exception(0);  // making it failed
        with_db([&](database& d) {
            on_connection(d, [&](odbc::connection& c) {
                user_info u(&c);
                open_user(u, name);
                if (u.get_password() != stored)
                    return;
                u.edit();
                u.set_password(hash);
                u.update();
            });
        });
    } catch (...) {
        log_line("Could not store the password of " + name + " as a hash; it stays as it was.");
    }
}

// The stored pools become the session's, still kept in the database until handed out.
// Called with the table lock held.
void server_state::load_pending(session& s, const database::login_row& row)
{
    s.messages.push_stored(row.stored[database::messages]);
    s.group_messages.push_stored(row.stored[database::groupmessages]);
    s.custom_messages.push_stored(row.stored[database::custommessages]);
    s.has_messages = !s.messages.empty();
    s.has_group_messages = !s.group_messages.empty();
    s.has_custom_messages = !s.custom_messages.empty();
}

// Appends the entries kept only in the session to the stored pools. Called with the
// user lock held; throws db_error when the database refuses.
void server_state::store_unstored(const session_handle& handle)
{
    database::pools chunks;
    {
        state_guard table(table_lock_);
        chunks = {handle->messages.unstored_text(), handle->group_messages.unstored_text(),
                  handle->custom_messages.unstored_text()};
    }
    db_.append_unbounded(handle->name, chunks);
    std::vector<ack_handle> safe;
    {
        state_guard table(table_lock_);
        for (auto pool : {&handle->messages, &handle->group_messages, &handle->custom_messages}) {
            auto acks = pool->mark_all_stored();
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
        log_line("Could not store the pending messages of " + handle->name +
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
        state_guard table(table_lock_);
        if (handle->closed || handle->closing)
            throw qsexcpt(qsexcpt::user_not_online);
        handle->closing = true;  // fetches wait it out; deliveries wait for the user lock
    }
    try {
        with_db([&](database&) { store_unstored(handle); });
    } catch (...) {
        due_list due;
        {
            state_guard table(table_lock_);
            handle->closing = false;
            wake(handle, due);
        }
        run_due(due);
        throw;
    }
    finish_logout(handle);
}

// The pools are stored: empty the session, tell the contacts, remove it.
void server_state::finish_logout(const session_handle& handle)
{
    {
        state_guard table(table_lock_);
        for (auto pool : {&handle->messages, &handle->group_messages, &handle->custom_messages})
            pool->clear();
        handle->has_messages = handle->has_group_messages = handle->has_custom_messages = false;
    }
    publish_status(handle, "offline");
    {
        state_guard table(table_lock_);
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
        state_guard table(table_lock_);
        if (!handle->closed)
            handle->orphaned = true;
        for (auto& p : handle->parked)  // nothing may go to them
            due.push_back(due_select{std::move(p.done), handle, 0, std::string(), hand_out{}});
        handle->parked.clear();
    }
    run_due(due);
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

bool server_state::new_user(const std::string& name, const std::string& password, password_work& work)
{
    if (name.empty() || name.find('|') != std::string::npos)
        throw qsexcpt(qsexcpt::invalid_username);  // could never be named in a list
    if (user_exists(name))
        throw qsexcpt(qsexcpt::user_exists_already);
    if (config.hashed_passwords && !work.hashed(password)) {
        work.hash(password);
        return false;
    }
    try {
        const std::string stored = config.hashed_passwords ? work.hash_made() : password;
        with_db([&](database& d) { on_connection(d, [&](odbc::connection& c) { insert_user(c, name, stored); }); });
    } catch (const db_error& e) {
        if (e.is_constraint_violation())
            throw qsexcpt(qsexcpt::user_exists_already);
        throw;
    } catch (const qsexcpt&) {
        throw;
    } catch (const exception& e) {
        if (e.code() == store_codes::value_too_long)
            throw qsexcpt(qsexcpt::info_too_long);
        throw;
    }
    remember_user(name);
    return true;
}

void server_state::new_user(const std::string& name, const std::string& password)
{
    password_work work;
    while (!new_user(name, password, work))
        work.run();
}

void server_state::info_record(const std::string& name, std::string& out)
{
    out += with_db([&](database& d) {
        return on_connection(d, [&](odbc::connection& c) {
            user_info u(&c);
            open_user(u, name);
            return public_fields(u) + "|answer=" + u.get_answer() + "|password=" + u.get_password();
        });
    });
}

void server_state::public_record(const std::string& name, std::string& out)
{
    out = with_db([&](database& d) {
        return on_connection(d, [&](odbc::connection& c) {
            user_info u(&c);
            open_user(u, name);
            return public_fields(u);
        });
    });
}

void server_state::password_for(const std::string& name, const std::string& answer, std::string& out)
{
    if (config.hashed_passwords)
        throw qsexcpt(qsexcpt::password_not_readable);
    out = with_db([&](database& d) {
        return on_connection(d, [&](odbc::connection& c) {
            user_info u(&c);
            open_user(u, name);
            const std::string stored = u.get_answer();
            if (stored.empty() || answer != stored)
                throw qsexcpt(qsexcpt::invalid_answer);
            if (is_password_hash(u.get_password()))
                throw qsexcpt(qsexcpt::password_not_readable);
            return std::string(u.get_password());
        });
    });
}

// With hashed storage a new password is hashed first; of several, the last counts.
bool server_state::set_info(const std::string& name, const std::string& items, password_work& work)
{
    const auto password = config.hashed_passwords ? last_password(items) : std::nullopt;
    if (password && !work.hashed(*password)) {
        work.hash(*password);
        return false;
    }
    with_db([&](database& d) {
        on_connection(d, [&](odbc::connection& c) {
            user_info u(&c);
            open_user(u, name);
            u.edit();
            for (const auto& piece : split_list(items)) {
                auto eq = piece.find('=');
                if (eq == std::string::npos)
                    continue;
                const std::string key = piece.substr(0, eq);
                set_field(u, key, password && key == "password" ? work.hash_made() : piece.substr(eq + 1));
            }
            if (public_fields(u).size() > reply_limit())
                throw qsexcpt(qsexcpt::info_too_long);
            try {
                u.update();
            } catch (const db_error& e) {
                if (e.is_unavailable())
                    throw;
                throw qsexcpt(qsexcpt::not_saved);
            } catch (const qsexcpt&) {
                throw;
            } catch (const exception& e) {
                throw qsexcpt(e.code() == store_codes::value_too_long ? qsexcpt::info_too_long : qsexcpt::not_saved);
            } catch (...) {
                throw qsexcpt(qsexcpt::not_saved);
            }
        });
    });
    return true;
}

void server_state::set_info(const std::string& name, const std::string& items)
{
    password_work work;
    while (!set_info(name, items, work))
        work.run();
}

} // namespace qs
