#include "qs/server/logic/node_sessions.h"

namespace qs {

std::pair<session_handle, bool> node_sessions::emplace(const std::string& name)
{
    auto [it, inserted] = sessions_.try_emplace(name, nullptr);
    if (inserted)
        it->second = std::make_shared<session>(name);
    return {it->second, inserted};
}

void node_sessions::erase(const session_handle& handle)
{
    auto it = sessions_.find(handle->name);
    if (it != sessions_.end() && it->second == handle)
        sessions_.erase(it);
}

session_handle node_sessions::find_now(const std::string& name)
{
    state_guard table(lock_);
    return find(name);
}

node_sessions::census node_sessions::count()
{
    census c;
    state_guard table(lock_);
    for (const auto& [name, handle] : sessions_) {
        if (handle->orphaned)
            continue;
        ++c.users;
        c.parked_selects += handle->parked.size();
    }
    return c;
}

std::vector<session_handle> node_sessions::all()
{
    std::vector<session_handle> out;
    state_guard table(lock_);
    for (const auto& [name, handle] : sessions_)
        out.push_back(handle);
    return out;
}

std::vector<session_handle> node_sessions::orphans()
{
    std::vector<session_handle> out;
    state_guard table(lock_);
    for (const auto& [name, handle] : sessions_)
        if (handle->orphaned)
            out.push_back(handle);
    return out;
}

std::string node_sessions::status_for_event(const std::string& name)
{
    if (const session_handle& here = find(name))
        return here->status;
    const auto it = remote_statuses_.find(name);
    return it == remote_statuses_.end() ? std::string() : it->second;
}

void node_sessions::remember_remote_status(const std::string& name, const std::string& status)
{
    if (status == "offline")
        remote_statuses_.erase(name);
    else
        remote_statuses_[name] = status;
}

} // namespace qs
