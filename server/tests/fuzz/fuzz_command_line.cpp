// Parses the input as a command line, and as arguments (one a line) quoted into one,
// checking what parse_command_line promises: the complaint, the split, the quoting.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "captured_console.h"
#include "fuzz_check.h"
#include "qs/server/logic/command_line.h"

namespace {

using arg_list = std::vector<std::string>;

struct parse_result {
    arg_list args;    // those the parser added
    std::string line; // the line as the parser left it
    std::string console;
};

// Parses into a list that already holds an argument, which must stay as it was.
parse_result parse(std::string line)
{
    arg_list args{"earlier"};
    qs::fuzz::console_output().clear();
    qs::parse_command_line(args, line);
    QS_FUZZ_CHECK(!args.empty() && args.front() == "earlier");
    return {arg_list(args.begin() + 1, args.end()), std::move(line), qs::fuzz::console_output()};
}

std::string trim_spaces(std::string_view s)
{
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return std::string(s.substr(first, s.find_last_not_of(' ') + 1 - first));
}

std::string joined(const arg_list& args)
{
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i)
        out += (i > 0 ? " " : "") + args[i];
    return out;
}

bool is_subsequence(std::string_view part, std::string_view whole)
{
    std::size_t at = 0;
    for (char c : whole)
        if (at < part.size() && part[at] == c)
            ++at;
    return at == part.size();
}

std::size_t quotes_in(std::string_view s)
{
    return static_cast<std::size_t>(std::count(s.begin(), s.end(), '"'));
}

// Bare when the parser keeps the word as it is (not empty, no space, no leading quote),
// else in quotes; bare-able words starting with an odd byte are quoted too.
std::string quoted_line(const arg_list& args)
{
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool bare = !a.empty() && a.find(' ') == std::string::npos && a.front() != '"' &&
                          static_cast<unsigned char>(a.front()) % 2 == 0;
        line += (i > 0 ? " " : "") + (bare ? a : '"' + a + '"');
    }
    return line;
}

// What quoted_line can carry: a quoted argument with spaces may not start with a space nor
// have a word but its last end with a quote (the join would stop there), and the line's
// quotes must pair up. Whatever stands in the way becomes an apostrophe or goes.
arg_list make_quotable(arg_list args)
{
    std::size_t quotes = 0;
    for (auto& a : args) {
        if (a.find(' ') != std::string::npos) {
            a.erase(0, a.find_first_not_of(' '));
            for (auto space = a.find(' '); space != std::string::npos; space = a.find(' ', space + 1))
                if (space > 0 && a[space - 1] == '"')
                    a[space - 1] = '\'';
        }
        quotes += quotes_in(a);
    }
    for (auto& a : args) {
        if (const auto q = a.find('"'); quotes % 2 != 0 && q != std::string::npos) {
            a[q] = '\'';
            --quotes;
        }
    }
    return args;
}

// Quoted arguments come back as they were, with no complaint.
void check_reads_back(const arg_list& args)
{
    const parse_result back = parse(quoted_line(args));
    QS_FUZZ_CHECK(back.console.empty());
    QS_FUZZ_CHECK(back.args == args);
}

void check_line(const std::string& line)
{
    const parse_result r = parse(line);
    const bool odd = quotes_in(line) % 2 != 0;
    QS_FUZZ_CHECK(r.console == (odd ? "Invalid command-line.\n" : ""));
    if (line.empty()) {
        QS_FUZZ_CHECK(r.args.empty());
        return;
    }
    const std::string trimmed = trim_spaces(line);
    QS_FUZZ_CHECK(r.line == trimmed);
    QS_FUZZ_CHECK(!r.args.empty());
    if (odd) {
        QS_FUZZ_CHECK(joined(r.args) == trimmed); // split at every space, nothing joined
        return;
    }
    QS_FUZZ_CHECK(is_subsequence(joined(r.args), trimmed)); // nothing added, moved or repeated
    if (make_quotable(r.args) == r.args)
        check_reads_back(r.args); // parse, quote, parse: stable
}

arg_list split_lines(std::string_view s)
{
    arg_list out;
    for (std::size_t at = 0;;) {
        const auto end = s.find('\n', at);
        out.emplace_back(s.substr(at, end - at));
        if (end == std::string_view::npos)
            return out;
        at = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    check_line(input);
    check_reads_back(make_quotable(split_lines(input)));
    return 0;
}
