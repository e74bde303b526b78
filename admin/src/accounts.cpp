#include "accounts.h"

#include "admin_error.h"
#include "qs/store/database.h"
#include "qs/store/new_user.h"
#include "qs/store/user_info.h"

namespace qs::admin {

namespace {

failure exists_already(const std::string& name)
{
    return failure("user '" + name + "' exists already");
}

} // namespace

void require_new_user(odbc::connection& conn, const std::string& name)
{
    if (name.empty() || name.find('|') != std::string::npos)
        throw failure("invalid user name '" + name + "': it must not be empty nor contain '|'");
    if (database::user_exists(conn, name))
        throw exists_already(name);
}

void insert_user(odbc::connection& conn, const std::string& name, const std::string& password)
{
    try {
        add_user_rows(conn, name, password);
    } catch (const db_error& e) {
        if (e.is_constraint_violation())
            throw exists_already(name); // made meanwhile, by the server perhaps
        throw;
    }
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
