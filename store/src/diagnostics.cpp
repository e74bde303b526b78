#include "qs/store/odbc/diagnostics.h"

#include <sqlext.h>
#include <string>

namespace qs::odbc {

namespace {

constexpr SQLINTEGER sqlite_busy = 5;
constexpr SQLINTEGER sqlite_locked = 6;
constexpr SQLINTEGER sqlite_constraint = 19;

// The SQLite driver reports every failure as HY000 with SQLite's own result code: a
// constraint failure gets its proper class 23 here, a busy wait that ran out HYT00.
std::string normalised_state(const std::string& state, const char* message, SQLINTEGER native)
{
    if (state != "HY000" || std::string(message).rfind("[SQLite]", 0) != 0)
        return state;
    if (native == sqlite_constraint)
        return "23000";
    if (native == sqlite_busy || native == sqlite_locked)
        return "HYT00";
    return state;
}

} // namespace

db_error diagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, const char* what)
{
    std::string first_state;
    std::string messages = std::string(what) + " failed";
    for (SQLSMALLINT i = 1;; ++i) {
        SQLCHAR state[6] = {};
        SQLCHAR text[SQL_MAX_MESSAGE_LENGTH] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        SQLRETURN rc = SQLGetDiagRec(handle_type, handle, i, state, &native, text, sizeof text, &len);
        if (!SQL_SUCCEEDED(rc))
            break;
        if (first_state.empty())
            first_state =
                normalised_state(reinterpret_cast<const char*>(state), reinterpret_cast<const char*>(text), native);
        messages += (i == 1 ? ": " : "; ");
        messages += reinterpret_cast<const char*>(text);
    }
    return db_error(first_state.empty() ? "HY000" : first_state, messages);
}

void check(SQLRETURN rc, SQLSMALLINT handle_type, SQLHANDLE handle, const char* what)
{
    if (!SQL_SUCCEEDED(rc))
        throw diagnostics(handle_type, handle, what);
}

} // namespace qs::odbc
