// Commands whose answer was not waited for any longer: the database did not answer in
// time, and the connection's loop replied in the command's place.
#include "qs/server/logic/command_interpreter.h"
#include "qs/server/logic/log.h"
#include "qs/server/logic/log_redaction.h"
#include "qs/server/logic/qsexcpt.h"

namespace qs {

bool command_interpreter::is_logout(const std::vector<std::string>& args) const
{
    return args.size() == 1 && word_of(args) == command_word::logout;
}

std::string command_interpreter::reply_unanswered(const std::vector<std::string>& args, session_handle& left)
{
    if (!is_logout(args))
        return qsexcpt(qsexcpt::database_unavailable).message;
    qs::lock_guard guard(lock_);
    left = std::move(current_session_);
    current_session_ = nullptr;
    return "Ok.";
}

void command_interpreter::not_run(const std::vector<std::string>& args)
{
    if (word_of(args) == command_word::login && has_attempt()) {
        end_login_attempt(false);
        drop_hashing_if_done();
    }
}

void command_interpreter::finished_late(const std::vector<std::string>& args, const std::string& result)
{
    if (args.size() != 3 || word_of(args) != command_word::login || result != "Ok.")
        return;
    session_handle made;
    {
        qs::lock_guard guard(lock_);
        if (!current_session_ || current_session_->name != args[1])
            return;
        made = std::move(current_session_);
        current_session_ = nullptr;
    }
    try {
        state_.end_session(made);
    } catch (...) {
        log_error("Could not store the pending messages of " + made->name + " (" + reason_of(std::current_exception()) +
                  "); they wait for the next login.");
    }
}

} // namespace qs
