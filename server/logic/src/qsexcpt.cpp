#include "qs/server/logic/qsexcpt.h"

#include <array>

namespace qs {

namespace {

const std::array<const char*, 22> messages = {
    "Invalid username.",
    "Invalid password.",
    "The user is already exist.",
    "The user is already online.",
    "The user is not online.",
    "No messages.",
    "No events.",
    "Invalid groupname.",
    "The group is already exist.",
    "The message is too long.",
    "The receiver's message box is full.",
    "The list is too long.",
    "The information is too long.",
    "The status is too long.",
    "The message could not be delivered to every member.",
    "The change could not be saved.",
    "Invalid answer.",
    "The database is not available.",
    "Too many selects are waiting on this connection.",
    "The text may not contain '|'.",
    "Passwords are stored as hashes: the password cannot be sent.",
    "Too many failed logins: try again later.",
};

std::string message_for(int code)
{
    return code >= 0 && code < static_cast<int>(messages.size()) ? messages[static_cast<std::size_t>(code)] : "";
}

} // namespace

qsexcpt::qsexcpt(int code) : exception(code), message(message_for(code)) {}

} // namespace qs
