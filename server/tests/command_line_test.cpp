#include <gtest/gtest.h>

#include "qs/server/logic/command_line.h"

namespace qs {
namespace {

using args = std::vector<std::string>;

struct line_case {
    std::string line;
    args expected;
    bool complains;
};

TEST(CommandLine, SplitsTrimsAndJoinsQuotedArguments)
{
    const std::vector<line_case> cases = {
        {"", {}, false},
        {"login ann pw", {"login", "ann", "pw"}, false},
        {"  login ann pw  ", {"login", "ann", "pw"}, false},
        {"login  ann pw", {"login", "", "ann", "pw"}, false},
        {"login\tann", {"login\tann"}, false},
        {"sendmessage bob \"hello there\"", {"sendmessage", "bob", "hello there"}, false},
        {"sendmessage bob \"a  b\"", {"sendmessage", "bob", "a  b"}, false},
        {"x \"a b\" c", {"x", "a b", "c"}, false},
        {"x \"one\" \"\"", {"x", "one", ""}, false},
        {"x \" y\"", {"x", "", "y\""}, false},
        {"sendmessage bob \"hi", {"sendmessage", "bob", "\"hi"}, true},
        {"sendmessage bob \"hi there", {"sendmessage", "bob", "\"hi", "there"}, true},
        {"x \"a b", {"x", "\"a", "b"}, true},
        {"x y\" \"z", {"x", "y\"", ""}, false},
    };
    for (const auto& c : cases) {
        std::string line = c.line;
        args got;
        testing::internal::CaptureStdout();
        parse_command_line(got, line);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(got, c.expected) << '[' << c.line << ']';
        EXPECT_EQ(printed, c.complains ? "Invalid command-line.\n" : "") << '[' << c.line << ']';
    }
}

} // namespace
} // namespace qs
