#include <gtest/gtest.h>

#include "message_text.h"

namespace qsb {
namespace {

TEST(MessageText, ComposedTextParsesBack)
{
    const bench_message m{12, 345678901234ULL, 987654321012345LL};
    const auto back = parse_message(compose(m));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->sender, 12u);
    EXPECT_EQ(back->id, 345678901234ULL);
    EXPECT_EQ(back->sent_ns, 987654321012345LL);
}

TEST(MessageText, OtherTextsAreNotMessages)
{
    for (const char* text : {"", "hello", "s1n2", "s1n2t", "s1n2t3x", "n2s1t3", "s-1n2t3", "s1 n2t3"})
        EXPECT_FALSE(parse_message(text)) << text;
}

TEST(MessageText, EntriesOfAReplyGiveTheirTexts)
{
    std::size_t bad = 0;
    const auto texts = entry_texts("ann says: \"s0n1t5\" on 2026-12-08 10:00:00.|"
                                   "bob says: \"s1n2t6\" on 2026-12-08 10:00:01.",
                                   bad);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "s0n1t5");
    EXPECT_EQ(texts[1], "s1n2t6");
    EXPECT_EQ(bad, 0u);
}

TEST(MessageText, EntriesOfAnotherFormAreCounted)
{
    std::size_t bad = 0;
    const auto texts = entry_texts("No messages.|ann says: \"s0n1t5\" on 2026-12-08 10:00:00.|ann says: \"open", bad);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "s0n1t5");
    EXPECT_EQ(bad, 2u);
}

TEST(MessageText, NothingGivesNoEntries)
{
    std::size_t bad = 0;
    EXPECT_TRUE(entry_texts("", bad).empty());
    EXPECT_EQ(bad, 0u);
}

} // namespace
} // namespace qsb
