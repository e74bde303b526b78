#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qs {

// Writing arguments as one command line that the server's parser splits back into
// exactly those arguments. The parser splits at single spaces, and joins a word that
// starts with a quote to the following ones up to the first that ends with a quote,
// dropping the first and last character. So an argument with a space cannot start with
// a space, nor have a word before its last that ends with a quote; anything else can go.

enum class quoting_problem {
    none,
    leading_space,      // " hi": the parser would see an empty word
    quote_before_space, // "say \"hi\" now": the join would stop after "hi"
};

// What keeps arg from coming back whole; none when it can.
quoting_problem quoting_problem_of(const std::string& arg);

// The command line for args; nothing when one of them has a problem. The line's quotes
// pair up: when the arguments hold an odd number, the last argument is closed by
// another character, which the parser drops as well.
std::optional<std::string> quoted_command(const std::vector<std::string>& args);

} // namespace qs
