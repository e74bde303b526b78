#include "accounts.h"

#include "admin_error.h"
#include "qs/store/msg_pool.h"
#include "qs/store/store_codes.h"
#include "qs/store/user_info.h"

namespace qs::admin {

namespace {

failure exists_already(const std::string& name)
{
    return failure("user '" + name + "' exists already");
}

void insert_rows(odbc::connection& conn, const std::string& name, const std::string& password)
{
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
}

// The failure that made it roll back is the one to report.
void roll_back(odbc::connection& conn) noexcept
{
    try {
        conn.rollback();
    } catch (...) {
    }
}

} // namespace

bool user_exists(odbc::connection& conn, const std::string& name)
{
    user_info u(&conn);
    u.find_user(name);
    try {
        u.open();
    } catch (const exception& e) {
        if (e.code() == store_codes::no_such_user)
            return false;
        throw;
    }
    return true;
}

void require_new_user(odbc::connection& conn, const std::string& name)
{
    if (name.empty() || name.find('|') != std::string::npos)
        throw failure("invalid user name '" + name + "': it must not be empty nor contain '|'");
    if (user_exists(conn, name))
        throw exists_already(name);
}

void insert_user(odbc::connection& conn, const std::string& name, const std::string& password)
{
    conn.set_autocommit(false);
    try {
        insert_rows(conn, name, password);
        conn.commit();
    } catch (const db_error& e) {
        roll_back(conn);
        if (e.is_constraint_violation())
            throw exists_already(name);  // made meanwhile, by the server perhaps
        throw;
    } catch (...) {
        roll_back(conn);
        throw;
    }
    conn.set_autocommit(true);
}

void set_password(odbc::connection& conn, const std::string& name, const std::string& password)
{
    user_info u(&conn);
    u.find_user(name);
    u.open();
    u.edit();
    u.set_password(password);
    u.update();
}

} // namespace qs::admin
