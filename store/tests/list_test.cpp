#include <gtest/gtest.h>

#include "qs/store/list_encoding.h"
#include "qs/store/msg_pool.h"
#include "qs/store/user_info.h"
#include "store_fixture.h"

namespace qs::test {
namespace {

using strings = std::vector<std::string>;

TEST(ListEncoding, SplitTakesEveryPieceEndingAtABar)
{
    const std::vector<std::pair<std::string, strings>> cases = {
        {"", {""}},
        {"ann", {"ann"}},
        {"ann|bob|ann", {"ann", "bob", "ann"}},
        {"a||b", {"a", "", "b"}},
        {"a|b|", {"a", "b", ""}},
        {"|a", {"", "a"}},
    };
    for (const auto& [text, pieces] : cases)
        EXPECT_EQ(split_list(text), pieces) << '"' << text << '"';
}

TEST(ListEncoding, AppendPutsABarOnlyBetweenEntries)
{
    EXPECT_EQ(append_entry("", "first"), "first");
    EXPECT_EQ(append_entry("first", "second"), "first|second");
    EXPECT_EQ(split_list(append_entry(append_entry("", "x"), "")), (strings{"x", ""}));
}

using PoolTest = StoreTest;

// Appends one entry to a pool column the way the server does: read, append, write.
void append_message(const std::string& user, const std::string& entry)
{
    msg_pool p;
    p.find_user(user);
    p.open();
    p.edit();
    p.set_msgs(append_entry(p.get_msgs(), entry));
    p.update();
    p.close();
}

TEST_F(PoolTest, StoredPoolsAndNameListsKeepTheirLayout)
{
    msg_pool p;
    p.open();
    p.add_new();
    p.set_username("bob");
    p.update();
    p.close();
    EXPECT_EQ(db.scalar("SELECT count(*) FROM msgpool WHERE messages IS NULL"), "1");

    append_message("bob", "ann says: \"hi\" on 2026-12-08 10:00:00.");
    EXPECT_EQ(db.scalar("SELECT messages FROM msgpool"), "ann says: \"hi\" on 2026-12-08 10:00:00.");
    append_message("bob", "eve says: \"yo\" on 2026-12-08 10:00:01.");
    EXPECT_EQ(db.scalar("SELECT messages FROM msgpool"),
              "ann says: \"hi\" on 2026-12-08 10:00:00.|eve says: \"yo\" on 2026-12-08 10:00:01.");

    user_info u;
    u.open();
    u.add_new();
    u.set_username("ann");
    u.set_contacts("bob|eve|bob");
    u.update();
    u.close();
    user_info again;
    again.find_user("ann");
    again.open();
    EXPECT_EQ(split_list(again.get_contacts()), (strings{"bob", "eve", "bob"}));
}

} // namespace
} // namespace qs::test
