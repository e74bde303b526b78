#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qs {

// The words of the command language, in the order of the command table and of the
// metrics' command slots. Code that needs a keyword names it by its word.
enum class command_word : std::size_t {
    login,
    logout,
    newgroup,
    newuser,
    sendmessage,
    getmessage,
    sendgroupmessage,
    getgroupmessage,
    sendcustommessage,
    getcustommessage,
    setcontactlist,
    getcontactlist,
    setstatus,
    getstatus,
    select,
    getmemberlist,
    setmemberlist,
    getmasterlist,
    setmasterlist,
    getinfo,
    setinfo,
    getpassword,
    ver,
};

inline constexpr std::size_t command_word_count = 23;

constexpr std::size_t index_of(command_word w)
{
    return static_cast<std::size_t>(w);
}

// How the word is spelled on the command line.
std::string_view command_keyword(command_word w);

// The word spelled keyword (exactly, case and all); none for any other text.
std::optional<command_word> word_named(std::string_view keyword);

// The word of a command line: its first argument, or the line's text up to the
// first space after any leading ones.
std::optional<command_word> word_of_line(const std::string& line);

} // namespace qs
