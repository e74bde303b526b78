#include "qs/store/odbc/environment.h"

#include <dlfcn.h>
#include <sqlext.h>

#include "qs/store/odbc/diagnostics.h"

namespace qs::odbc {

namespace {

SQLHENV make_environment()
{
    // Drivers load the installer library for every connect and unload it when they
    // disconnect; keeping it loaded spares that work and keeps its allocations named
    // in leak reports.
    ::dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_NODELETE);
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        throw db_error("HY001", "cannot allocate the ODBC environment");
    SQLRETURN rc = SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    check(rc, SQL_HANDLE_ENV, env, "setting the ODBC version");
    return env;
}

} // namespace

SQLHENV environment()
{
    static const SQLHENV env = make_environment(); // thread-safe initialisation
    return env;
}

} // namespace qs::odbc
