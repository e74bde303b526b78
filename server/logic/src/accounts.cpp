// Users in the database: new users, information records, passwords, contact lists.
#include "qs/server/logic/accounts.h"

#include <optional>

#include "qs/server/logic/log.h"
#include "qs/store/password_hash.h"
#include "qs/server/logic/qsexcpt.h"
#include "qs/server/logic/settings.h"
#include "qs/store/list_encoding.h"
#include "qs/store/new_user.h"
#include "qs/store/store_codes.h"
#include "qs/store/user_info.h"
#include "database_access.h"
#include "list_write.h"

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
    add_user_rows(conn, name, password); // a connection left broken is reopened by the pool
}

} // namespace

// A password stored as typed becomes its hash (made by the login's check), unless it
// changed meanwhile. A failure is logged and leaves it as it was, for the next login.
void accounts::replace_with_hash(const std::string& name, const std::string& stored, const std::string& hash)
{
    try {
        if (hash.empty())
            throw exception(0); // making it failed
        with_db(db_, [&](database& d) {
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
        log_warning("Could not store the password of " + name + " as a hash; it stays as it was.");
    }
}

bool accounts::new_user(const std::string& name, const std::string& password, password_work& work)
{
    if (name.empty() || name.find('|') != std::string::npos)
        throw qsexcpt(qsexcpt::invalid_username); // could never be named in a list
    if (user_exists(name))
        throw qsexcpt(qsexcpt::user_exists_already);
    if (config_.hashed_passwords && !work.hashed(password)) {
        work.hash(password);
        return false;
    }
    try {
        const std::string stored = config_.hashed_passwords ? work.hash_made() : password;
        with_db(db_,
                [&](database& d) { on_connection(d, [&](odbc::connection& c) { insert_user(c, name, stored); }); });
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
    remember(name);
    return true;
}

void accounts::new_user(const std::string& name, const std::string& password)
{
    password_work work;
    while (!new_user(name, password, work))
        work.run();
}

void accounts::info_record(const std::string& name, std::string& out)
{
    out += with_db(db_, [&](database& d) {
        return on_connection(d, [&](odbc::connection& c) {
            user_info u(&c);
            open_user(u, name);
            return public_fields(u) + "|answer=" + u.get_answer() + "|password=" + u.get_password();
        });
    });
}

void accounts::public_record(const std::string& name, std::string& out)
{
    out = with_db(db_, [&](database& d) {
        return on_connection(d, [&](odbc::connection& c) {
            user_info u(&c);
            open_user(u, name);
            return public_fields(u);
        });
    });
}

void accounts::password_for(const std::string& name, const std::string& answer, std::string& out)
{
    if (config_.hashed_passwords)
        throw qsexcpt(qsexcpt::password_not_readable);
    out = with_db(db_, [&](database& d) {
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
bool accounts::set_info(const std::string& name, const std::string& items, password_work& work)
{
    const auto password = config_.hashed_passwords ? last_password(items) : std::nullopt;
    if (password && !work.hashed(*password)) {
        work.hash(*password);
        return false;
    }
    with_db(db_, [&](database& d) {
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
            if (public_fields(u).size() > config_.reply_limit())
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

void accounts::set_info(const std::string& name, const std::string& items)
{
    password_work work;
    while (!set_info(name, items, work))
        work.run();
}

bool accounts::known(const std::string& name)
{
    qs::lock_guard known(known_lock_);
    return known_.count(name) != 0;
}

void accounts::remember(const std::string& name)
{
    qs::lock_guard known(known_lock_);
    known_.insert(name);
}

bool accounts::user_exists(const std::string& name)
{
    if (known(name))
        return true;
    if (!with_db(db_, [&](database& d) { return d.user_exists(name); }))
        return false;
    remember(name);
    return true;
}

bool accounts::users_exist(const std::string& list)
{
    if (list.empty())
        return true;
    for (const auto& name : split_list(list))
        if (!user_exists(name))
            return false;
    return true;
}

std::optional<login_row> accounts::read_login(const std::string& name)
{
    return with_db(db_, [&](database& d) { return d.read_login(name); });
}

void accounts::get_contact_list(const std::string& user, std::string& out)
{
    const auto row = read_login(user);
    if (!row)
        throw qsexcpt(qsexcpt::invalid_username);
    out = row->contacts;
}

void accounts::write_contact_list(const std::string& user, const std::string& list)
{
    check_list_length(list, config_.reply_limit());
    if (!users_exist(list))
        throw qsexcpt(qsexcpt::invalid_username);
    write_or_refuse([&] {
        with_db(db_, [&](database& d) {
            on_connection(d, [&](odbc::connection& c) {
                user_info u(&c);
                u.find_user(user);
                try {
                    u.open();
                } catch (const exception& e) {
                    if (e.code() == store_codes::no_such_user)
                        throw qsexcpt(qsexcpt::invalid_username);
                    throw;
                }
                u.edit();
                u.set_contacts(list);
                u.update();
            });
        });
    });
}

} // namespace qs
