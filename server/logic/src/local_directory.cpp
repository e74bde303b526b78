#include "qs/server/logic/local_directory.h"

#include "qs/server/logic/qsexcpt.h"
#include "pool_kind.h"

namespace qs {

session_handle local_directory::claim(const std::string& name, const login_row& row)
{
    state_guard table(sessions_.lock());
    auto [handle, made] = sessions_.emplace(name);
    if (!made && !handle->orphaned)
        throw qsexcpt(qsexcpt::user_online);
    if (made)
        pools::load(*handle, row.stored);
    handle->orphaned = false; // an orphan, left by a connection that ended, is taken over
    handle->contacts = row.contacts;
    return handle;
}

void local_directory::release(const session_handle& handle)
{
    state_guard table(sessions_.lock());
    sessions_.erase(handle);
    handle->closed = true;
}

bool local_directory::status_of(const std::string& name, std::string& out)
{
    state_guard table(sessions_.lock());
    const session_handle handle = sessions_.find(name);
    if (!handle)
        return false;
    out = handle->status;
    return true;
}

} // namespace qs
