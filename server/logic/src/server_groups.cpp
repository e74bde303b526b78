// Existence checks, groups and contact lists.
#include <algorithm>

#include "qs/store/group_info.h"
#include "qs/store/list_encoding.h"
#include "qs/server/server_state.h"
#include "qs/store/store_codes.h"
#include "qs/store/user_info.h"
#include "database_access.h"

namespace qs {

namespace {

// A stored list must be readable back in one reply.
void check_list_length(const std::string& list)
{
    if (list.size() > server_state::reply_limit())
        throw qsexcpt(qsexcpt::list_too_long);
}

// Runs a list write; a failed write is never reported as success.
template <typename Write>
void write_or_refuse(Write&& write)
{
    try {
        write();
    } catch (const qsexcpt&) {
        throw;
    } catch (const exception& e) {
        throw qsexcpt(e.code() == store_codes::value_too_long ? qsexcpt::list_too_long : qsexcpt::not_saved);
    } catch (...) {
        throw qsexcpt(qsexcpt::not_saved);
    }
}

} // namespace

void server_state::remember_user(const std::string& name)
{
    qs::lock_guard known(known_lock_);
    known_users_.insert(name);
}

bool server_state::user_exists(const std::string& name)
{
    {
        qs::lock_guard known(known_lock_);
        if (known_users_.count(name) != 0)
            return true;
    }
    if (!with_db([&](database& d) { return d.user_exists(name); }))
        return false;
    remember_user(name);
    return true;
}

bool server_state::group_exists(const std::string& name)
{
    return with_db([&](database& d) { return d.read_group(name).has_value(); });
}

bool server_state::users_exist(const std::string& list)
{
    if (list.empty())
        return true;
    for (const auto& name : split_list(list))
        if (!user_exists(name))
            return false;
    return true;
}

void server_state::create_group(const std::string& group)
{
    if (group.empty() || group.find('|') != std::string::npos)
        throw qsexcpt(qsexcpt::invalid_groupname);  // could never be found again or named in a list
    if (group_exists(group))
        throw qsexcpt(qsexcpt::group_exists_already);
    try {
        with_db([&](database& d) {
            on_connection(d, [&](odbc::connection& c) {
                group_info g(&c);
                g.open_to_add();
                g.add_new();
                g.set_groupname(group);
                g.update();
            });
        });
    } catch (const db_error& e) {
        if (e.is_constraint_violation())  // created meanwhile by another request
            throw qsexcpt(qsexcpt::group_exists_already);
        throw;
    } catch (const exception& e) {
        if (e.code() == store_codes::value_too_long)
            throw qsexcpt(qsexcpt::invalid_groupname);
        throw;
    }
}

void server_state::read_group_list(const std::string& group, bool masters, std::string& out)
{
    const auto lists = with_db([&](database& d) { return d.read_group(group); });
    if (!lists)
        throw qsexcpt(qsexcpt::invalid_groupname);
    out = masters ? lists->masters : lists->members;
}

void server_state::write_group_list(const std::string& group, bool masters, const std::string& list)
{
    check_list_length(list);
    if (!users_exist(list))
        throw qsexcpt(qsexcpt::invalid_username);
    if (!group_exists(group))
        throw qsexcpt(qsexcpt::invalid_groupname);
    write_or_refuse([&] {
        with_db([&](database& d) {
            on_connection(d, [&](odbc::connection& c) {
                group_info g(&c);
                g.find_group(group);
                g.open();
                g.edit();
                if (masters)
                    g.set_masters(list);
                else
                    g.set_members(list);
                g.update();
            });
        });
    });
}

void server_state::get_member_list(const std::string& group, std::string& out)
{
    read_group_list(group, false, out);
}

void server_state::set_member_list(const std::string& group, const std::string& list)
{
    write_group_list(group, false, list);
}

void server_state::get_master_list(const std::string& group, std::string& out)
{
    read_group_list(group, true, out);
}

void server_state::set_master_list(const std::string& group, const std::string& list)
{
    write_group_list(group, true, list);
}

void server_state::get_contact_list(const std::string& user, std::string& out)
{
    const auto row = with_db([&](database& d) { return d.read_login(user); });
    if (!row)
        throw qsexcpt(qsexcpt::invalid_username);
    out = row->contacts;
}

void server_state::set_contact_list(const std::string& user, const std::string& list)
{
    check_list_length(list);
    if (!users_exist(list))
        throw qsexcpt(qsexcpt::invalid_username);
    write_or_refuse([&] {
        with_db([&](database& d) {
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
    state_guard table(table_lock_);
    auto it = sessions_.find(user);
    if (it != sessions_.end())
        it->second->contacts = list;
}

bool server_state::in_group_list(const std::string& user, const std::string& group, bool masters)
{
    const auto lists = with_db([&](database& d) { return d.read_group(group); });
    if (!lists)
        throw qsexcpt(qsexcpt::invalid_groupname);
    if (!user_exists(user))
        throw qsexcpt(qsexcpt::invalid_username);
    const auto names = split_list(masters ? lists->masters : lists->members);
    return std::find(names.begin(), names.end(), user) != names.end();
}

bool server_state::is_member(const std::string& user, const std::string& group)
{
    return in_group_list(user, group, false);
}

bool server_state::is_master(const std::string& user, const std::string& group)
{
    return in_group_list(user, group, true);
}

} // namespace qs
