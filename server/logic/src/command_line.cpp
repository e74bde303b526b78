#include "qs/server/logic/command_line.h"

#include <algorithm>

#include "qs/server/logic/log.h"

namespace qs {

namespace {

bool starts_quoted(const std::string& s)
{
    return !s.empty() && s.front() == '"';
}

bool ends_quoted(const std::string& s)
{
    return !s.empty() && s.back() == '"';
}

void trim_spaces(std::string& line)
{
    line.erase(0, line.find_first_not_of(' '));
    auto last = line.find_last_not_of(' ');
    line.erase(last == std::string::npos ? 0 : last + 1);
}

// Appends the parts of line between single spaces to args, with one allocation for them.
void split_at_spaces(const std::string& line, std::vector<std::string>& args)
{
    args.reserve(args.size() + static_cast<std::size_t>(std::count(line.begin(), line.end(), ' ')) + 1);
    std::string::size_type begin = 0;
    for (;;) {
        auto space = line.find(' ', begin);
        args.emplace_back(line, begin, space - begin);
        if (space == std::string::npos)
            return;
        begin = space + 1;
    }
}

// Removes the first and last character; a lone quote becomes empty.
std::string unquote(const std::string& s)
{
    return s.size() < 2 ? std::string() : s.substr(1, s.size() - 2);
}

void join_quoted(std::vector<std::string>& args, std::size_t first)
{
    std::size_t i = first;
    while (i + 1 < args.size() && !(i > first && ends_quoted(args[i])))
        args[first] += " " + args[++i];
    args.erase(args.begin() + static_cast<long>(first) + 1, args.begin() + static_cast<long>(i) + 1);
}

} // namespace

void parse_command_line(std::vector<std::string>& args, std::string& line)
{
    if (line.empty())
        return;
    const auto quotes = std::count(line.begin(), line.end(), '"');
    trim_spaces(line);
    const std::size_t start = args.size();
    split_at_spaces(line, args);
    if (quotes % 2 != 0) {
        console_line("Invalid command-line.");
        return;
    }
    for (std::size_t i = start; i < args.size(); ++i) {
        if (!starts_quoted(args[i]))
            continue;
        if (!(args[i].size() >= 2 && ends_quoted(args[i])) && args[i].size() > 1)
            join_quoted(args, i);
        args[i] = unquote(args[i]);
    }
}

} // namespace qs
