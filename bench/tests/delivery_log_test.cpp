#include <gtest/gtest.h>
#include <limits>

#include "delivery_log.h"
#include "send_tally.h"

namespace qsb {
namespace {

bench_message msg(std::uint64_t id, std::uint32_t sender = 0)
{
    return {sender, id, 0};
}

// A log of messages 0..n-1, all sent.
delivery_log sent(std::uint64_t n)
{
    delivery_log log;
    for (std::uint64_t id = 0; id < n; ++id)
        log.sent(id);
    return log;
}

TEST(DeliveryLog, AMessageAcknowledgedButNeverArrivedIsLost)
{
    delivery_log log = sent(4);
    log.acknowledged(0);
    log.acknowledged(1);
    log.arrived(msg(1), 0);
    EXPECT_EQ(log.missing(), 1u);
    EXPECT_EQ(log.delivered(), 1u);
}

TEST(DeliveryLog, ArrivalBeforeItsAcknowledgementIsNotLost)
{
    delivery_log log = sent(2);
    log.arrived(msg(0), 0);
    log.acknowledged(0);
    EXPECT_EQ(log.missing(), 0u);
    EXPECT_EQ(log.delivered(), 1u);
}

TEST(DeliveryLog, ASecondArrivalIsADuplicate)
{
    delivery_log log = sent(2);
    log.acknowledged(0);
    EXPECT_TRUE(log.arrived(msg(0), 0));
    EXPECT_FALSE(log.arrived(msg(0), 0));
    EXPECT_EQ(log.duplicated(), 1u);
    EXPECT_EQ(log.delivered(), 1u);
    EXPECT_EQ(log.missing(), 0u);
}

TEST(DeliveryLog, ReorderingIsJudgedWithinAStream)
{
    delivery_log log = sent(10);
    log.arrived(msg(5), 1);
    log.arrived(msg(3), 2); // another stream: in order
    log.arrived(msg(4), 1); // behind 5 in stream 1
    log.arrived(msg(6), 1);
    EXPECT_EQ(log.reordered(), 1u);
}

TEST(DeliveryLog, RefusedButDeliveredAndUnknownIdsAreReported)
{
    send_tally tally;
    tally.sent(0);
    tally.sent(1);
    tally.sent(3);
    tally.replied(0, "The receiver's message box is full.");
    tally.log.arrived(msg(0), 0);
    tally.log.arrived(msg(7), 0); // never sent
    tally.log.arrived(msg(2), 0); // below one sent, but never sent itself
    tally.replied(1, "Ok.");
    json_line out;
    tally.report(out);
    const std::string line = out.str();
    EXPECT_NE(line.find("\"refusals\":{\"The receiver's message box is full.\":1}"), std::string::npos) << line;
    EXPECT_NE(line.find("\"lost\":1,"), std::string::npos) << line;
    EXPECT_NE(line.find("\"refused_but_delivered\":1,"), std::string::npos) << line;
    EXPECT_NE(line.find("\"unknown_delivered\":2"), std::string::npos) << line;
}

TEST(JsonLine, StringsAreEscapedAndNonFiniteIsNull)
{
    json_line out;
    out.add("a", std::string_view("say \"hi\"\\\n")).add("b", std::numeric_limits<double>::infinity()).add("c", 2LL);
    EXPECT_EQ(out.str(), R"({"a":"say \"hi\"\\\u000a","b":null,"c":2})");
}

} // namespace
} // namespace qsb
