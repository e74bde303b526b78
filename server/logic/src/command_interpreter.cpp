#include "qs/server/logic/command_interpreter.h"
#include "qs/server/logic/log_redaction.h"

#include "qs/server/logic/log.h"

namespace qs {

thread_local server_state::hand_out* command_interpreter::given_ = nullptr;
thread_local ack_handle* command_interpreter::later_ = nullptr;

session_handle command_interpreter::current()
{
    session_handle h;
    {
        qs::lock_guard guard(lock_);
        h = current_session_;
    }
    return state_.is_active(h) ? h : nullptr;
}

std::string command_interpreter::user()
{
    session_handle h = current();
    return h ? h->name : std::string();
}

void command_interpreter::logged_in_as(const session_handle& handle)
{
    {
        qs::lock_guard guard(lock_);
        if (!ended_) {
            current_session_ = handle;
            return;
        }
    }
    state_.end_session(handle); // the connection ended while the login ran
}

void command_interpreter::logged_out()
{
    qs::lock_guard guard(lock_);
    current_session_ = nullptr;
}

void command_interpreter::end()
{
    session_handle h;
    {
        qs::lock_guard guard(lock_);
        ended_ = true;
        h = std::move(current_session_);
    }
    if (!h)
        return;
    try {
        state_.end_session(h);
    } catch (...) {
        log_error("Could not store the pending messages of " + h->name + " (" + reason_of(std::current_exception()) +
                  "); they wait for the next login.");
    }
}

std::string command_interpreter::who()
{
    const session_handle user = current();
    return "from " + peer_ + (user ? " (" + user->name + ")" : "");
}

} // namespace qs
