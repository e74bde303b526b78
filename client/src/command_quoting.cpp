#include "command_quoting.h"

#include <algorithm>

namespace qs {

namespace {

constexpr char odd_closing = '.'; // any character but a space or a quote

// The parser keeps such a word as it is.
bool goes_bare(const std::string& arg)
{
    return !arg.empty() && arg.front() != '"' && arg.find(' ') == std::string::npos;
}

} // namespace

quoting_problem quoting_problem_of(const std::string& arg)
{
    if (arg.find(' ') == std::string::npos)
        return quoting_problem::none;
    if (arg.front() == ' ')
        return quoting_problem::leading_space;
    for (auto space = arg.find(' '); space != std::string::npos; space = arg.find(' ', space + 1))
        if (arg[space - 1] == '"')
            return quoting_problem::quote_before_space;
    return quoting_problem::none;
}

std::optional<std::string> quoted_command(const std::vector<std::string>& args)
{
    std::size_t quotes = 0;
    for (const auto& arg : args) {
        if (quoting_problem_of(arg) != quoting_problem::none)
            return std::nullopt;
        quotes += static_cast<std::size_t>(std::count(arg.begin(), arg.end(), '"'));
    }
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool odd_end = i + 1 == args.size() && quotes % 2 != 0;
        if (i > 0)
            line += ' ';
        if (goes_bare(args[i]) && !odd_end)
            line += args[i];
        else
            line += '"' + args[i] + (odd_end ? odd_closing : '"');
    }
    return line;
}

} // namespace qs
