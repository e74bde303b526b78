#include "qs/store/new_user.h"

#include "qs/store/msg_pool.h"
#include "qs/store/user_info.h"

namespace qs {

void add_user_rows(odbc::connection& conn, const std::string& name, const std::string& password)
{
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
    } catch (...) {
        try {
            conn.rollback();
            conn.set_autocommit(true);
        } catch (...) { // the failure that made it roll back is the one to report
        }
        throw;
    }
    conn.set_autocommit(true);
}

} // namespace qs
