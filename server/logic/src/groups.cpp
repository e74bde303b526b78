// Groups in the database and their member and master lists.
#include "qs/server/logic/groups.h"

#include <algorithm>

#include "qs/server/logic/qsexcpt.h"
#include "qs/store/group_info.h"
#include "qs/store/list_encoding.h"
#include "qs/store/store_codes.h"
#include "database_access.h"
#include "list_write.h"

namespace qs {

bool groups::exists(const std::string& name)
{
    return with_db(db_, [&](database& d) { return d.read_group(name).has_value(); });
}

void groups::create(const std::string& group)
{
    if (group.empty() || group.find('|') != std::string::npos)
        throw qsexcpt(qsexcpt::invalid_groupname); // could never be found again or named in a list
    if (exists(group))
        throw qsexcpt(qsexcpt::group_exists_already);
    try {
        with_db(db_, [&](database& d) {
            on_connection(d, [&](odbc::connection& c) {
                group_info g(&c);
                g.open_to_add();
                g.add_new();
                g.set_groupname(group);
                g.update();
            });
        });
    } catch (const db_error& e) {
        if (e.is_constraint_violation()) // created meanwhile by another request
            throw qsexcpt(qsexcpt::group_exists_already);
        throw;
    } catch (const exception& e) {
        if (e.code() == store_codes::value_too_long)
            throw qsexcpt(qsexcpt::invalid_groupname);
        throw;
    }
}

void groups::read_list(const std::string& group, bool masters, std::string& out)
{
    const auto lists = with_db(db_, [&](database& d) { return d.read_group(group); });
    if (!lists)
        throw qsexcpt(qsexcpt::invalid_groupname);
    out = masters ? lists->masters : lists->members;
}

void groups::write_list(const std::string& group, bool masters, const std::string& list)
{
    check_list_length(list, config_.reply_limit());
    if (!users_.users_exist(list))
        throw qsexcpt(qsexcpt::invalid_username);
    if (!exists(group))
        throw qsexcpt(qsexcpt::invalid_groupname);
    write_or_refuse([&] {
        with_db(db_, [&](database& d) {
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

void groups::get_member_list(const std::string& group, std::string& out)
{
    read_list(group, false, out);
}

void groups::set_member_list(const std::string& group, const std::string& list)
{
    write_list(group, false, list);
}

void groups::get_master_list(const std::string& group, std::string& out)
{
    read_list(group, true, out);
}

void groups::set_master_list(const std::string& group, const std::string& list)
{
    write_list(group, true, list);
}

bool groups::in_list(const std::string& user, const std::string& group, bool masters)
{
    const auto lists = with_db(db_, [&](database& d) { return d.read_group(group); });
    if (!lists)
        throw qsexcpt(qsexcpt::invalid_groupname);
    if (!users_.user_exists(user))
        throw qsexcpt(qsexcpt::invalid_username);
    const auto names = split_list(masters ? lists->masters : lists->members);
    return std::find(names.begin(), names.end(), user) != names.end();
}

bool groups::is_member(const std::string& user, const std::string& group)
{
    return in_list(user, group, false);
}

bool groups::is_master(const std::string& user, const std::string& group)
{
    return in_list(user, group, true);
}

} // namespace qs
