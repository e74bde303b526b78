// A send's settlement: done runs once, when the sender listens and every entry settled,
// with the refusal that decides it, and never under a state lock.
#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "qs/server/logic/delivery_ack.h"
#include "qs/server/logic/qsexcpt.h"
#include "qs/server/logic/state_lock.h"

namespace qs::test {
namespace {

struct heard {
    int times = 0;
    std::optional<std::pair<bool, int>> last;
    delivery_ack::done_fn listener()
    {
        return [this](bool safe, int code) {
            ++times;
            last = {safe, code};
        };
    }
};

TEST(DeliveryAck, DoneRunsOnceWhenTheLastEntryAndTheSenderAreSettled)
{
    heard h;
    {
        delivery_ack settled_first(qsexcpt::database_unavailable);
        settled_first.attach();
        settled_first.confirm();
        settled_first.release(h.listener()); // everything is safe already: at once
        EXPECT_EQ(h.times, 1);
    }
    delivery_ack later(qsexcpt::database_unavailable);
    later.attach();
    later.attach();
    later.release(h.listener());
    later.confirm();
    EXPECT_EQ(h.times, 1);
    later.confirm();
    EXPECT_EQ(h.times, 2);
    EXPECT_EQ(h.last, std::make_pair(true, static_cast<int>(qsexcpt::database_unavailable)));
}

TEST(DeliveryAck, AWithdrawnEntryFailsTheSendAndARefusalNamesTheReply)
{
    heard h;
    delivery_ack withdrawn(qsexcpt::database_unavailable);
    withdrawn.attach();
    withdrawn.attach();
    withdrawn.withdraw();
    withdrawn.confirm();
    withdrawn.release(h.listener());
    EXPECT_EQ(h.last, std::make_pair(false, static_cast<int>(qsexcpt::database_unavailable)));

    delivery_ack refused(qsexcpt::database_unavailable);
    refused.attach();
    refused.release(h.listener());
    refused.refuse(qsexcpt::message_box_full);
    EXPECT_EQ(h.last, std::make_pair(false, static_cast<int>(qsexcpt::message_box_full)));
    EXPECT_EQ(h.times, 2);
}

TEST(DeliveryAck, SettledUnderAStateLockDoneWaitsUntilItIsLetGo)
{
    heard h;
    mutex m;
    delivery_ack by_entry(qsexcpt::database_unavailable);
    by_entry.attach();
    by_entry.release(h.listener());
    delivery_ack by_sender(qsexcpt::database_unavailable);
    {
        state_guard held(m);
        by_entry.confirm();
        by_sender.release(h.listener());
        EXPECT_TRUE(holding_state_locks());
        EXPECT_EQ(h.times, 0);
    }
    EXPECT_FALSE(holding_state_locks());
    EXPECT_EQ(h.times, 2);
}

} // namespace
} // namespace qs::test
