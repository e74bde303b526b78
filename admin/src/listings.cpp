#include "listings.h"

#include <array>
#include <map>

#include "admin_error.h"
#include "qs/store/group_info.h"
#include "qs/store/list_encoding.h"
#include "qs/store/msg_pool.h"
#include "qs/store/store_codes.h"
#include "qs/store/user_info.h"

namespace qs::admin {

namespace {

// The entries of a '|'-separated list; an empty list has none.
std::vector<std::string> entries(const std::string& list)
{
    return list.empty() ? std::vector<std::string>{} : split_list(list);
}

std::string counted(std::size_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// " A, B", or "" for none.
std::string joined(const std::vector<std::string>& names)
{
    std::string out;
    for (const auto& n : names)
        out += (out.empty() ? " " : ", ") + n;
    return out;
}

// Calls row() on each row of the opened record.
template <typename Row>
void for_each_row(recordset& record, Row&& row)
{
    record.open();
    for (; !record.is_eof(); record.move_next())
        row();
    record.close();
}

using pool_counts = std::array<std::size_t, 3>; // personal, group, custom

// The counts of each msgpool row by user name.
std::map<std::string, pool_counts> stored_counts(odbc::connection& conn)
{
    std::map<std::string, pool_counts> counts;
    msg_pool p(&conn);
    for_each_row(p, [&] {
        counts[p.get_username()] = {entries(p.get_msgs()).size(), entries(p.get_grpmsgs()).size(),
                                    entries(p.get_cusmsgs()).size()};
    });
    return counts;
}

} // namespace

void list_users(odbc::connection& conn, std::ostream& out)
{
    const auto counts = stored_counts(conn);
    std::map<std::string, pool_counts> users;
    user_info u(&conn);
    for_each_row(u, [&] {
        const auto it = counts.find(u.get_username());
        users[u.get_username()] = it == counts.end() ? pool_counts{} : it->second;
    });
    for (const auto& [name, c] : users)
        out << name << ": " << c[0] << " personal, " << c[1] << " group, " << c[2] << " custom\n";
}

void list_groups(odbc::connection& conn, std::ostream& out)
{
    std::map<std::string, std::string> lines;
    group_info g(&conn);
    for_each_row(g, [&] {
        lines[g.get_groupname()] = counted(entries(g.get_members()).size(), "member", "members") + ", " +
                                   counted(entries(g.get_masters()).size(), "master", "masters");
    });
    for (const auto& [name, line] : lines)
        out << name << ": " << line << '\n';
}

void print_totals(odbc::connection& conn, std::ostream& out)
{
    std::size_t users = 0;
    std::size_t groups = 0;
    user_info u(&conn);
    for_each_row(u, [&] { ++users; });
    group_info g(&conn);
    for_each_row(g, [&] { ++groups; });
    pool_counts stored{};
    for (const auto& [name, c] : stored_counts(conn))
        for (std::size_t i = 0; i < stored.size(); ++i)
            stored[i] += c[i];
    out << "  users: " << users << ", groups: " << groups << "\n"
        << "  stored messages: " << stored[0] << " personal, " << stored[1] << " group, " << stored[2] << " custom\n";
}

void show_group(odbc::connection& conn, const std::string& name, std::ostream& out)
{
    group_info g(&conn);
    g.find_group(name);
    try {
        g.open();
    } catch (const exception& e) {
        if (e.code() == store_codes::no_such_group)
            throw failure("no group '" + name + "'");
        throw;
    }
    out << "members:" << joined(entries(g.get_members())) << '\n'
        << "masters:" << joined(entries(g.get_masters())) << '\n';
}

} // namespace qs::admin
