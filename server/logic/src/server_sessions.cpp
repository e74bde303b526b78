// Sessions on this node: their end, status and status events.
#include <algorithm>
#include <functional>

#include "qs/store/list_encoding.h"
#include "qs/server/logic/server_state.h"
#include "qs/store/database.h"
#include "qs/server/logic/local_directory.h"
#include "qs/server/logic/settings.h"
#include "pool_kind.h"

namespace qs {

server_state::server_state(state_options options)
    : options_(std::move(options)), db_(std::make_unique<database>(options_.database)),
      accounts_(*db_, options_.config), groups_(*db_, accounts_, options_.config),
      directory_(std::make_unique<local_directory>(sessions_)),
      waiters_(sessions_, options_.config,
               [this](const session_handle& handle, unsigned wanted, std::string& reply, hand_out& given) {
                   select_stored(handle, wanted, reply, given);
               })
{
    db_->pool().on_availability([this](bool available, const db_error& why) { availability_changed(available, why); });
}

mutex& server_state::user_lock(const std::string& name)
{
    return user_locks_[std::hash<std::string>{}(name) % user_locks_.size()];
}

session_handle server_state::find_session(const std::string& name)
{
    return sessions_.find_now(name);
}

void server_state::close_session(const session_handle& handle)
{
    if (!handle)
        return;
    directory_->release(handle);
    due_list due;
    {
        state_guard table(sessions_.lock());
        waiters_.wake(handle, due);
    }
    waiters_.run_due(due);
}

// No lock: closed is only ever set, and a caller's answer may go stale either way.
bool server_state::is_active(const session_handle& handle)
{
    return handle && !handle->closed;
}

void server_state::publish_status(const session_handle& handle, const std::string& status)
{
    if (!handle)
        return;
    std::string contacts;
    {
        state_guard table(sessions_.lock());
        handle->status = status;
        contacts = handle->contacts;
    }
    status_event(handle->name, contacts);
    directory_->status_changed(handle->name, status, contacts);
}

void server_state::status_event(const std::string& name, const std::string& contacts)
{
    status_event(name, contacts, nullptr);
}

void server_state::remote_status_event(const std::string& name, const std::string& status, const std::string& contacts)
{
    status_event(name, contacts, &status);
}

void server_state::status_event(const std::string& name, const std::string& contacts, const std::string* remote)
{
    const std::string event = qs::waiters::status_event(name);
    due_list due;
    {
        state_guard table(sessions_.lock());
        if (remote != nullptr)
            sessions_.remember_remote_status(name, *remote);
        for (const auto& contact : split_list(contacts)) {
            if (const session_handle& other = sessions_.find(contact))
                waiters_.push_event(other, event, due);
        }
    }
    waiters_.run_due(due);
}

void server_state::use_directory(std::unique_ptr<session_directory> directory)
{
    directory_ = std::move(directory);
}

// The list goes to the database first; a session of the user sees it at once.
void server_state::set_contact_list(const std::string& user, const std::string& list)
{
    accounts_.write_contact_list(user, list);
    state_guard table(sessions_.lock());
    if (const session_handle& handle = sessions_.find(user))
        handle->contacts = list;
}

void server_state::get_status(const std::string& name, std::string& out)
{
    directory_->status_of(name, out);
}

} // namespace qs

namespace qs {

bool server_state::delivers_in_memory(const std::string& receiver)
{
    if (!accounts_.known(receiver))
        return false;
    {
        state_guard table(sessions_.lock());
        const session_handle& handle = sessions_.find(receiver);
        if (handle)
            return !handle->orphaned && !handle->closing;
    }
    return directory_->routes_at_once(receiver);
}

bool server_state::fetches_in_memory(const session_handle& handle, pool_kind kind)
{
    state_guard table(sessions_.lock());
    return !handle || pools::pool(*handle, kind).stored() == 0;
}

bool server_state::status_in_memory(const std::string& name)
{
    return !directory_->waits() || find_session(name) != nullptr;
}

bool server_state::logs_out_in_memory(const session_handle& handle)
{
    if (directory_->waits()) // the session's end is recorded in the shared database
        return false;
    state_guard table(sessions_.lock());
    if (!handle)
        return true;
    for (auto k : pools::all)
        if (pools::pool(*handle, k).has_unstored())
            return false;
    return true;
}

} // namespace qs
