#include "qs/connection.h"


#include "qs/frame.h"
#include "qs/log.h"

namespace qs {

connection::connection(server_state& state, const socket& accepted) : socket(accepted), state_(state) {}

connection::~connection()
{
    close();
}

void connection::send_reply(std::int32_t cid, const std::string& text)
{
    const std::string bytes = encode_frame(cid, text);
    std::lock_guard guard(send_lock_);
    send(bytes.data(), static_cast<int>(bytes.size()));
}

bool connection::try_acquire_slot()
{
    std::lock_guard guard(lock_);
    if (running_ >= max_waiting_selects)
        return false;
    ++running_;
    return true;
}

void connection::release_slot()
{
    std::lock_guard guard(lock_);
    --running_;
}

session_handle connection::current()
{
    session_handle h;
    {
        std::lock_guard guard(lock_);
        h = current_session_;
    }
    return state_.is_active(h) ? h : nullptr;
}

std::string connection::user()
{
    session_handle h = current();
    return h ? h->name : std::string();
}

void connection::logged_in_as(const session_handle& handle)
{
    {
        std::lock_guard guard(lock_);
        if (!ended_) {
            current_session_ = handle;
            return;
        }
    }
    state_.end_session(handle);  // the connection ended while the login ran
}

void connection::logged_out()
{
    std::lock_guard guard(lock_);
    current_session_ = nullptr;
}

void connection::end()
{
    shutdown();
    session_handle h;
    {
        std::lock_guard guard(lock_);
        ended_ = true;
        h = std::move(current_session_);
    }
    if (!h)
        return;
    try {
        state_.end_session(h);
    } catch (...) {
        log_line("Could not store the pending messages of " + h->name + "; they wait for the next login.");
    }
}

} // namespace qs
