#include "message_request.h"

#include "command_quoting.h"

namespace qs {

namespace {

message_request refused(const std::string& why)
{
    return {{}, why + "; nothing was sent."};
}

} // namespace

message_request make_message_request(const std::string& user, const std::string& text, std::size_t longest)
{
    if (text.empty())
        return refused("The message is empty");
    if (text.find('|') != std::string::npos)
        return refused("The message may not contain '|'");
    switch (quoting_problem_of(text)) {
    case quoting_problem::leading_space:
        return refused("The message may not start with a space");
    case quoting_problem::quote_before_space:
        return refused("Only the last word of the message may end with a quote (\")");
    case quoting_problem::none:
        break;
    }
    const auto command = quoted_command({"sendmessage", user, text});
    if (!command)
        return refused("The name " + user + " cannot be sent as typed");
    if (command->size() > longest)
        return refused("The message is too long to send");
    return {*command, {}};
}

} // namespace qs
