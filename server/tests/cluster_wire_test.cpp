// What nodes tell each other: every field survives the trip byte for byte, a payload
// that is not the record expected is refused, and node names stay one subject token.
#include <gtest/gtest.h>

#include "cluster_wire.h"

namespace qs::test {
namespace {

using namespace cluster_wire;

TEST(ClusterWire, DeliveriesSettlementsAndStatusChangesKeepEveryByte)
{
    const std::string bytes = std::string("quote\" back\\ bar| nul") + '\0' + "\xff\x80 end";
    const auto d = decode_delivery(encode(delivery{7, "node.a", 2, "bob", bytes, true}));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->id, 7u);
    EXPECT_EQ(d->from, "node.a");
    EXPECT_EQ(d->kind, 2);
    EXPECT_EQ(d->entry, bytes);
    EXPECT_TRUE(d->answer);

    const auto s = decode_settlement(encode(settlement{9, false, 11}));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->id, 9u);
    EXPECT_FALSE(s->safe);
    EXPECT_EQ(s->refusal, 11);
    EXPECT_EQ(decode_settlement(encode(settlement{3, false, -1}))->refusal, -1);

    const auto c = decode_status_change(encode(status_change{"b", "ann", bytes, "bob|cy"}));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->status, bytes);
    EXPECT_EQ(c->contacts, "bob|cy");
}

TEST(ClusterWire, PayloadsThatAreNotTheRecordExpectedAreRefused)
{
    const std::string good = encode(delivery{1, "a", 0, "b", "entry", true});
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(decode_delivery(good.substr(0, cut))) << "cut at " << cut;
    EXPECT_FALSE(decode_delivery(good + "x")) << "trailing bytes";
    for (const auto& [at, byte] : {std::pair<std::size_t, char>{0, 'S'}, {9, 3}, {10, 2}}) {
        std::string bad = good;
        bad[at] = byte; // another record, kind 3, answer 2
        EXPECT_FALSE(decode_delivery(bad)) << at;
    }
    EXPECT_FALSE(decode_delivery(encode(settlement{1, true, -1})));
    const std::string settled = encode(settlement{1, true, -1});
    EXPECT_FALSE(decode_settlement(settled.substr(0, settled.size() - 1)));
    EXPECT_FALSE(decode_settlement(good));
    EXPECT_FALSE(decode_status_change(R"({"node":"a","name":"b","status":"s"})"));
    EXPECT_FALSE(decode_status_change("not json"));
}

TEST(ClusterWire, NodeNamesBecomeOneSubjectTokenAndLanesAreStable)
{
    EXPECT_EQ(node_token("host-1_a"), "host-1_a");
    EXPECT_EQ(node_token("a.b:7000 *>"), "a%2Eb%3A7000%20%2A%3E");
    EXPECT_EQ(deliver_subject("a.b", 3), "qs.node.a%2Eb.deliver.3");
    EXPECT_EQ(settled_subject("a.b"), "qs.node.a%2Eb.settled");
    EXPECT_EQ(lane_of("bob", 4), lane_of(std::string("bob"), 4));
    EXPECT_LT(lane_of("anyone", 4), 4u);
    EXPECT_EQ(lane_of("", 4), 14695981039346656037ull % 4) << "FNV-1a, the same on every build";
}

} // namespace
} // namespace qs::test
