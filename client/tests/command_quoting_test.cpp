// Quoted commands against the server's own parser: what the client writes comes back
// as the arguments it wrote, and what it refuses no line could carry.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "command_quoting.h"
#include "message_request.h"
#include "qs/server/logic/command_line.h"

namespace qs::test {
namespace {

using arg_list = std::vector<std::string>;

arg_list parsed(std::string line)
{
    arg_list args;
    parse_command_line(args, line);
    return args;
}

bool even_quotes(const std::string& line)
{
    return std::count(line.begin(), line.end(), '"') % 2 == 0; // the parser complains otherwise
}

// Every string of up to length characters from alphabet, to each.
void for_each_string(const std::string& alphabet, std::size_t length,
                     const std::function<void(const std::string&)>& each)
{
    std::vector<std::string> level{""};
    each("");
    for (std::size_t n = 1; n <= length; ++n) {
        std::vector<std::string> next;
        for (const auto& s : level)
            for (char c : alphabet)
                next.push_back(s + c);
        for (const auto& s : next)
            each(s);
        level = std::move(next);
    }
}

void expect_round_trip(const arg_list& args)
{
    const auto line = quoted_command(args);
    ASSERT_TRUE(line) << args.back();
    EXPECT_TRUE(even_quotes(*line)) << *line;
    EXPECT_EQ(parsed(*line), args) << "line: [" << *line << "]";
}

TEST(CommandQuoting, TrickyMessagesComeBackAsTyped)
{
    for (const std::string text :
         {"hello bob", "two  spaces", "trailing  ", "\"", "\"\"", "\"quoted words\"", "a\"b c\"d", "odd \"quote",
          "end \"", "x \"\"y z", "tab\there", "\xC3\xA9t\xC3\xA9 \"x", "semi;colon=and/slash"})
        expect_round_trip({"sendmessage", "bob", text});
}

TEST(CommandQuoting, EveryArgumentPlaceComesBack)
{
    expect_round_trip({"login", "two words", "pass \"word"});
    expect_round_trip({"login", "\"quoted\"", "x"});
    expect_round_trip({"login", "", "x"});
    expect_round_trip({"login", "a\"", "b\""});
    expect_round_trip({"ver"});
}

// All short texts of spaces, quotes and letters, as the last and as a middle argument.
TEST(CommandQuoting, AllShortTextsComeBackOrHaveAProblem)
{
    for_each_string("a \"", 7, [](const std::string& text) {
        if (quoting_problem_of(text) != quoting_problem::none)
            return;
        expect_round_trip({"sendmessage", "bob", text});
        expect_round_trip({"sendmessage", text, "hi"});
        expect_round_trip({"sendmessage", text, "\""});
    });
}

// For each short text with a problem, no line of up to two characters more parses to it.
TEST(CommandQuoting, WhatIsRefusedNoLineCarries)
{
    const std::string head = "sendmessage bob ";
    int refused = 0;
    for_each_string("a \"", 4, [&](const std::string& text) {
        if (quoting_problem_of(text) == quoting_problem::none)
            return;
        ++refused;
        const arg_list wanted{"sendmessage", "bob", text};
        for_each_string("a \".", text.size() + 2, [&](const std::string& tail) {
            if (even_quotes(head + tail)) {
                EXPECT_NE(parsed(head + tail), wanted) << "[" << tail << "] carries [" << text << "]";
            }
        });
    });
    EXPECT_GT(refused, 10);
}

TEST(CommandQuoting, TheProblemsAreNamed)
{
    EXPECT_EQ(quoting_problem_of(" hi"), quoting_problem::leading_space);
    EXPECT_EQ(quoting_problem_of(" "), quoting_problem::leading_space);
    EXPECT_EQ(quoting_problem_of("say \"hi\" now"), quoting_problem::quote_before_space);
    EXPECT_EQ(quoting_problem_of("\" x"), quoting_problem::quote_before_space);
    for (const char* text : {"a \" ", "end\" ", "x \"\" y", "\" ", "\"  \""})
        EXPECT_EQ(quoting_problem_of(text), quoting_problem::quote_before_space) << text;
    EXPECT_EQ(quoting_problem_of("say \"hi\""), quoting_problem::none);
    EXPECT_EQ(quoting_problem_of(""), quoting_problem::none);
    EXPECT_FALSE(quoted_command({"sendmessage", " bob", "hi"}));
}

TEST(MessageRequest, RefusesWithAReasonAndBuildsTheRest)
{
    const auto refusal = [](const std::string& text) { return make_message_request("bob", text, 255).refusal; };
    EXPECT_EQ(refusal(""), "The message is empty; nothing was sent.");
    EXPECT_EQ(refusal("a|b"), "The message may not contain '|'; nothing was sent.");
    EXPECT_EQ(refusal(" hi"), "The message may not start with a space; nothing was sent.");
    EXPECT_EQ(refusal("\"hi\" you"), "Only the last word of the message may end with a quote (\"); nothing was sent.");
    EXPECT_EQ(make_message_request(" bob", "hi", 255).refusal,
              "The name  bob cannot be sent as typed; nothing was sent.");

    const auto ok = make_message_request("bob", "hi there", 255);
    EXPECT_EQ(ok.refusal, "");
    EXPECT_EQ(parsed(ok.command), (arg_list{"sendmessage", "bob", "hi there"}));
}

TEST(MessageRequest, TheLimitCountsTheWholeRequestWithItsQuotes)
{
    const std::string text = "a " + std::string(20, 'b'); // quoted: 24 bytes
    const std::size_t size = std::string("sendmessage bob ").size() + text.size() + 2;
    EXPECT_EQ(make_message_request("bob", text, size).refusal, "");
    EXPECT_EQ(make_message_request("bob", text, size - 1).refusal,
              "The message is too long to send; nothing was sent.");
    EXPECT_EQ(make_message_request("bob", text, size - 1).command, "");
}

} // namespace
} // namespace qs::test
