#include <gtest/gtest.h>

#include "utf8_line.h"

namespace qs::test {
namespace {

// Feeds bytes; returns what add() gave back, one piece each.
std::string feed(utf8_line& line, const std::string& bytes)
{
    std::string echoed;
    for (char b : bytes)
        echoed += line.add(static_cast<unsigned char>(b));
    return echoed;
}

TEST(Utf8Line, WholeCharactersEnterAndLeave)
{
    utf8_line line(100);
    EXPECT_EQ(line.add(0xC3), "") << "a character shows with its last byte";
    EXPECT_EQ(line.text(), "");
    line.erase_last();
    EXPECT_EQ(feed(line, "ab\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), "ab\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(line.characters(), 5u);
    EXPECT_TRUE(line.erase_last());
    EXPECT_EQ(line.text(), "ab\xC3\xA9\xE2\x82\xAC");
    EXPECT_TRUE(line.erase_last());
    EXPECT_TRUE(line.erase_last());
    EXPECT_EQ(line.text(), "ab");
    EXPECT_EQ(line.characters(), 2u);
    EXPECT_TRUE(line.erase_last());
    EXPECT_TRUE(line.erase_last());
    EXPECT_FALSE(line.erase_last());
    EXPECT_EQ(line.text(), "");
}

TEST(Utf8Line, BrokenAndUnfinishedSequencesAreDropped)
{
    utf8_line line(100);
    EXPECT_EQ(feed(line, "\x80\xBF"), "");                 // stray continuation bytes
    EXPECT_EQ(feed(line, "\xC3z"), "z");                   // the next byte is no continuation
    EXPECT_EQ(feed(line, "\xC0\x80\xC1\xBF"), "");         // overlong two-byte forms
    EXPECT_EQ(feed(line, "\xE0\x80\x80"), "");             // overlong three-byte form
    EXPECT_EQ(feed(line, "\xED\xA0\x80"), "");             // a surrogate
    EXPECT_EQ(feed(line, "\xF4\x90\x80\x80\xF5\xFF"), ""); // past U+10FFFF
    EXPECT_EQ(line.text(), "z");
    EXPECT_EQ(feed(line, "\xE2\x82"), "");
    EXPECT_TRUE(line.erase_last()); // takes the unfinished one and the z
    EXPECT_EQ(line.text(), "");
    EXPECT_EQ(line.add(0xAC), "") << "the rest of the dropped sequence";
}

TEST(Utf8Line, ACharacterPastTheLimitIsDroppedWhole)
{
    utf8_line line(3);
    EXPECT_EQ(feed(line, "ab\xC3\xA9"
                         "c"),
              "abc");
    EXPECT_EQ(feed(line, "d"), "");
    EXPECT_EQ(line.text(), "abc");
    line.reset(2);
    EXPECT_EQ(line.text(), "");
    EXPECT_EQ(feed(line, "\xC3\xA9\xC3\xA9"), "\xC3\xA9");
    EXPECT_EQ(line.characters(), 1u);
}

} // namespace
} // namespace qs::test
