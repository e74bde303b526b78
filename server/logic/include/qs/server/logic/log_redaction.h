#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace qs {

// What the log may show of a command and its reply: secrets become ***. Hidden are the
// password of login and newuser, the answer of getpassword and the password it sends
// back, and the password and answer items of setinfo. Keywords match in any case, so a
// mistyped keyword hides its secrets too.
std::string redacted_command(const std::string& line);
std::string redacted_reply(const std::string& line, const std::string& reply);

// The error block of a command that failed or whose reply could not be sent, secrets
// hidden; why, when given, is the cause (a driver's SQLSTATE and message, say).
// The cause of a failure as the log shows it: a driver's SQLSTATE and message, or the
// exception's own text.
std::string reason_of(std::exception_ptr failure);

void log_error_block(std::int32_t cid, const std::string& command, const std::string& result,
                     const std::string& why = "");

} // namespace qs
