#include "qs/server/logic/command_words.h"

namespace qs {

namespace {

constexpr std::array<std::string_view, command_word_count> keywords = {
    "login",
    "logout",
    "newgroup",
    "newuser",
    "sendmessage",
    "getmessage",
    "sendgroupmessage",
    "getgroupmessage",
    "sendcustommessage",
    "getcustommessage",
    "setcontactlist",
    "getcontactlist",
    "setstatus",
    "getstatus",
    "select",
    "getmemberlist",
    "setmemberlist",
    "getmasterlist",
    "setmasterlist",
    "getinfo",
    "setinfo",
    "getpassword",
    "ver",
};

static_assert(index_of(command_word::ver) + 1 == command_word_count);

} // namespace

std::string_view command_keyword(command_word w)
{
    return keywords[index_of(w)];
}

std::optional<command_word> word_named(std::string_view text)
{
    for (std::size_t i = 0; i < keywords.size(); ++i)
        if (keywords[i] == text)
            return static_cast<command_word>(i);
    return std::nullopt;
}

std::optional<command_word> word_of_line(const std::string& line)
{
    const auto start = line.find_first_not_of(' ');
    if (start == std::string::npos)
        return std::nullopt;
    const auto end = line.find(' ', start);
    return word_named(std::string_view(line).substr(start, end == std::string::npos ? end : end - start));
}

} // namespace qs
