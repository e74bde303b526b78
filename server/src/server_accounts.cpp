// Accounts: new users, login and logout, the information record.
#include "qs/list_encoding.h"
#include "qs/msg_pool.h"
#include "qs/odbc/connection.h"
#include "qs/server_state.h"
#include "qs/store_codes.h"
#include "qs/user_info.h"

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

} // namespace

session_handle server_state::login(const std::string& name, const std::string& password)
{
    {
        user_info u;
        open_user(u, name);
        if (password != u.get_password())
            throw qsexcpt(qsexcpt::invalid_password);
    }
    std::lock_guard user(user_lock(name));
    session_handle handle;
    bool took_over = false;
    {
        std::lock_guard table(table_lock_);
        auto it = sessions_.find(name);
        if (it != sessions_.end() && !it->second->orphaned)
            throw qsexcpt(qsexcpt::user_online);
        if (it != sessions_.end()) {  // left behind by a connection that ended
            handle = it->second;
            handle->orphaned = false;
            took_over = true;
        }
    }
    if (!took_over)
        handle = open_session(name);
    try {
        load_pending(handle);
        publish_status(handle, "online");
    } catch (...) {
        if (took_over) {
            std::lock_guard table(table_lock_);
            handle->orphaned = true;
        } else {
            close_session(handle);
        }
        throw qsexcpt(qsexcpt::user_online);
    }
    return handle;
}

void server_state::load_pending(const session_handle& handle)
{
    msg_pool p;
    p.find_user(handle->name);
    p.open();
    p.edit();
    const std::string stored[] = {p.get_msgs(), p.get_grpmsgs(), p.get_cusmsgs()};
    p.set_msgs("");
    p.set_grpmsgs("");
    p.set_cusmsgs("");
    p.update();
    p.close();
    std::lock_guard table(table_lock_);
    handle->messages.push_text(stored[0]);
    handle->group_messages.push_text(stored[1]);
    handle->custom_messages.push_text(stored[2]);
    handle->has_messages = !handle->messages.empty();
    handle->has_group_messages = !handle->group_messages.empty();
    handle->has_custom_messages = !handle->custom_messages.empty();
    handle->changed.notify_all();
}

void server_state::store_pending(const std::string& name, const std::array<std::string, 3>& pools)
{
    msg_pool p;
    p.find_user(name);
    p.open();
    p.edit();
    p.set_msgs(pools[0]);
    p.set_grpmsgs(pools[1]);
    p.set_cusmsgs(pools[2]);
    p.update();
    p.close();
}

void server_state::logout(const session_handle& handle)
{
    if (!handle)
        throw qsexcpt(qsexcpt::user_not_online);
    std::lock_guard user(user_lock(handle->name));
    std::array<std::string, 3> pools;
    {
        std::lock_guard table(table_lock_);
        if (handle->closed || handle->closing)
            throw qsexcpt(qsexcpt::user_not_online);
        handle->closing = true;  // fetches wait it out; deliveries wait for the user lock
        pools = {handle->messages.text(), handle->group_messages.text(), handle->custom_messages.text()};
    }
    try {
        store_pending(handle->name, pools);
    } catch (...) {
        {
            std::lock_guard table(table_lock_);
            handle->closing = false;
            handle->changed.notify_all();
        }
        throw qsexcpt(user_exists(handle->name) ? qsexcpt::user_not_online : qsexcpt::invalid_username);
    }
    finish_logout(handle);
}

// The pools are stored: empty the session, tell the contacts, remove it.
void server_state::finish_logout(const session_handle& handle)
{
    {
        std::lock_guard table(table_lock_);
        for (auto k : {&handle->messages, &handle->group_messages, &handle->custom_messages})
            k->clear();
        handle->has_messages = handle->has_group_messages = handle->has_custom_messages = false;
    }
    try {
        publish_status(handle, "offline");
    } catch (const qsexcpt&) {  // no userinfo row any more: nobody to tell
    }
    {
        std::lock_guard table(table_lock_);
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
        std::lock_guard table(table_lock_);
        if (!handle->closed)
            handle->orphaned = true;
        throw;
    }
}

void server_state::new_user(const std::string& name, const std::string& password)
{
    if (name.empty() || name.find('|') != std::string::npos)
        throw qsexcpt(qsexcpt::invalid_username);  // could never be named in a list
    if (user_exists(name))
        throw qsexcpt(qsexcpt::user_exists_already);
    odbc::connection conn(recordset::data_source());
    conn.set_autocommit(false);
    try {
        user_info u(&conn);
        msg_pool p(&conn);
        u.open_to_add();
        p.open_to_add();
        u.add_new();
        p.add_new();
        u.set_username(name);
        p.set_username(name);
        u.set_password(password);
        u.update();
        p.update();
        conn.commit();
    } catch (const db_error& e) {
        conn.rollback();
        if (e.is_constraint_violation())
            throw qsexcpt(qsexcpt::user_exists_already);
        throw;
    } catch (const exception& e) {
        conn.rollback();
        if (e.code() == store_codes::value_too_long)
            throw qsexcpt(qsexcpt::info_too_long);
        throw;
    }
}

void server_state::info_record(const std::string& name, std::string& out)
{
    user_info u;
    open_user(u, name);
    out += public_fields(u) + "|answer=" + u.get_answer() + "|password=" + u.get_password();
}

void server_state::public_record(const std::string& name, std::string& out)
{
    user_info u;
    open_user(u, name);
    out = public_fields(u);
}

void server_state::password_for(const std::string& name, const std::string& answer, std::string& out)
{
    user_info u;
    open_user(u, name);
    const std::string stored = u.get_answer();
    if (stored.empty() || answer != stored)
        throw qsexcpt(qsexcpt::invalid_answer);
    out = u.get_password();
}

void server_state::set_info(const std::string& name, const std::string& items)
{
    user_info u;
    open_user(u, name);
    u.edit();
    for (const auto& piece : split_list(items)) {
        auto eq = piece.find('=');
        if (eq != std::string::npos)
            set_field(u, piece.substr(0, eq), piece.substr(eq + 1));
    }
    if (public_fields(u).size() > reply_limit())
        throw qsexcpt(qsexcpt::info_too_long);
    try {
        u.update();
    } catch (const exception& e) {
        throw qsexcpt(e.code() == store_codes::value_too_long ? qsexcpt::info_too_long : qsexcpt::not_saved);
    } catch (...) {
        throw qsexcpt(qsexcpt::not_saved);
    }
}

} // namespace qs
