#include <gtest/gtest.h>

#include "qs/server/logic/command_interpreter.h"
#include "qs/server/logic/command_words.h"
#include "qs/server/logic/waiters.h"

namespace qs::test {
namespace {

TEST(CommandWordsTest, EachWordIsSpelledOnceAndNamedByItsSpelling)
{
    const auto slots = command_interpreter::keywords(); // the metrics' order
    ASSERT_EQ(slots.size(), command_word_count);
    for (std::size_t i = 0; i < command_word_count; ++i) {
        const auto word = static_cast<command_word>(i);
        EXPECT_EQ(slots[i], command_keyword(word));
        EXPECT_EQ(word_named(command_keyword(word)), word) << slots[i];
    }
    EXPECT_EQ(slots.front(), "login");
    EXPECT_EQ(command_keyword(command_word::select), "select");
    EXPECT_EQ(command_keyword(command_word::getstatus), "getstatus");
    EXPECT_EQ(slots.back(), "ver");
    for (const char* other : {"", "SELECT", "selectx", "sel", "ver ", "unknown"})
        EXPECT_EQ(word_named(other), std::nullopt) << other;
}

// The connection tells a held select by its line, the interpreter by its arguments.
TEST(CommandWordsTest, LinesAndArgumentsNameTheSameWord)
{
    EXPECT_EQ(word_of_line("select MSG|STATUS"), command_word::select);
    EXPECT_EQ(word_of_line("select"), command_word::select);
    EXPECT_EQ(word_of_line("  select MSG"), command_word::select);
    EXPECT_EQ(word_of_line("selectMSG"), std::nullopt);
    EXPECT_EQ(word_of_line("Select MSG"), std::nullopt);
    EXPECT_EQ(word_of_line(""), std::nullopt);
    EXPECT_EQ(word_of_line("   "), std::nullopt);
    EXPECT_EQ(command_interpreter::word_of({"select", "MSG"}), command_word::select);
    EXPECT_EQ(command_interpreter::word_of({"sendmessage", "bob", "hi"}), command_word::sendmessage);
    EXPECT_EQ(command_interpreter::word_of({}), std::nullopt);
    EXPECT_EQ(command_interpreter::word_of({"nope"}), std::nullopt);
}

TEST(CommandWordsTest, StatusEventsReadAsTheGetstatusCommandWithItsAnswer)
{
    EXPECT_EQ(waiters::status_event("ann"), "getstatus ann");
    EXPECT_EQ(waiters::status_section("ann", "busy"), "getstatus ann: busy");
    EXPECT_EQ(waiters::status_section("ann", "").size(), std::string("getstatus ").size() + 3 + 2);
}

} // namespace
} // namespace qs::test
