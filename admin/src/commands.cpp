#include "commands.h"

#include <algorithm>
#include <array>
#include <iostream>

#include "accounts.h"
#include "admin_error.h"
#include "command_line.h"
#include "listings.h"
#include "live_figures.h"
#include "metrics_scrape.h"
#include "node_listing.h"
#include "password_input.h"
#include "qs/store/database.h"
#include "qs/store/password_hash.h"
#include "qs/store/recordset.h"
#include "sqlite_backup.h"
#include "table_check.h"
#include "qs/version.h"

namespace qs::admin {

namespace {

odbc::connection connect()
{
    return odbc::connection(recordset::data_source());
}

std::string hashed_password(const std::string& typed)
{
    try {
        return hash_password(typed);
    } catch (const hash_failure& e) {
        throw failure(e.library_started() ? "cannot hash the password (out of memory)" : "libsodium cannot start");
    }
}

// The new password as it is to be stored.
std::string new_password(bool hashed)
{
    const std::string typed = read_new_password();
    return hashed ? hashed_password(typed) : typed;
}

void adduser(const command_line& cl)
{
    const std::string& name = cl.operands[0];
    auto conn = connect();
    require_new_user(conn, name);
    insert_user(conn, name, new_password(cl.hashed));
    std::cout << "Added user " << name << "." << std::endl;
}

void passwd(const command_line& cl)
{
    const std::string& name = cl.operands[0];
    auto conn = connect();
    if (!database::user_exists(conn, name))
        throw failure("no user '" + name + "'");
    set_password(conn, name, new_password(cl.hashed));
    std::cout << "Changed the password of " << name << "." << std::endl;
}

void users(const command_line&)
{
    auto conn = connect();
    list_users(conn, std::cout);
}

void groups(const command_line&)
{
    auto conn = connect();
    list_groups(conn, std::cout);
}

void group(const command_line& cl)
{
    auto conn = connect();
    show_group(conn, cl.operands[0], std::cout);
}

void nodes(const command_line&)
{
    auto conn = connect();
    list_nodes(conn, std::cout);
}

void check(const command_line&)
{
    auto conn = connect();
    check_tables(conn, std::cout);
}

void backup(const command_line& cl)
{
    auto conn = connect();
    backup_sqlite(conn, cl.operands[0]);
    std::cout << "Copied the database to " << cl.operands[0] << "." << std::endl;
}

// The live figures first, when a metrics port is named or set; the database's totals
// even when the port cannot be read, which then fails the command.
void stats(const command_line& cl)
{
    const metrics_endpoint at =
        cl.operands.empty() ? endpoint_from_conf("qsserver.conf") : parse_endpoint(cl.operands[0]);
    std::string unread;
    if (at.port == 0) {
        std::cout << "No live figures: metrics_port is not set in ./qsserver.conf.\n";
    } else if (at.port == metrics_endpoint::picked) {
        std::cout << "No live figures: metrics_port=auto in ./qsserver.conf; name the port the server "
                     "printed (qsadmin stats HOST:PORT).\n";
    } else {
        try {
            const auto samples = parse_samples(fetch_metrics(at));
            std::cout << "Server (metrics port " << at.host << ":" << at.port << "):\n";
            print_live_figures(samples, std::cout);
        } catch (const failure& e) {
            unread = e.what();
            std::cout << "No live figures: " << unread << ".\n";
        }
    }
    auto conn = connect();
    std::cout << "Database:\n";
    print_totals(conn, std::cout);
    std::cout << std::flush;
    if (!unread.empty())
        throw failure(unread);
}

void help(const command_line&)
{
    print_usage(std::cout);
}

void version(const command_line&)
{
    std::cout << "qsadmin (Quillspeak) " QS_VERSION << std::endl;
}

constexpr std::array<command, 11> commands{{
    {"adduser", 1, true, adduser},
    {"passwd", 1, true, passwd},
    {"users", 0, false, users},
    {"groups", 0, false, groups},
    {"group", 1, false, group},
    {"nodes", 0, false, nodes},
    {"check", 0, false, check},
    {"backup", 1, false, backup},
    {"stats", 1, false, stats, true},
    {"--help", 0, false, help},
    {"--version", 0, false, version},
}};

} // namespace

const command* find_command(std::string_view name)
{
    const auto it = std::find_if(commands.begin(), commands.end(), [&](const command& c) { return c.name == name; });
    return it == commands.end() ? nullptr : &*it;
}

} // namespace qs::admin
