#include <gtest/gtest.h>

#include <future>
#include <list>
#include <regex>
#include <mutex>
#include <thread>

#include "logic_fixture.h"
#include "qs/server/logic/message_entry.h"
#include "qs/server/logic/settings.h"

namespace qs::test {
namespace {

using MessageTest = LogicTest;

// Pools of at most 200 bytes.
class SmallPoolTest : public LogicTest {
protected:
    SmallPoolTest() : LogicTest(small_pools()) {}
    static settings small_pools()
    {
        settings s;
        s.max_field_len = 200;
        return s;
    }
};

// Entries stored as soon as they arrive.
class ImmediateSpillTest : public LogicTest {
protected:
    ImmediateSpillTest() : LogicTest(no_delay()) {}
    static settings no_delay()
    {
        settings s;
        s.spill_delay_ms = 0;
        return s;
    }
};
using texts = std::vector<std::string>;

std::string fetch(server_state& state, const session_handle& h)
{
    std::string out;
    state.get_message(h, out);
    return out;
}

TEST(MessageEntry, CarriesSenderQuotedTextAndUtcStamp)
{
    const std::string stamp = time_stamp();
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"))) << stamp;
    EXPECT_EQ(message_entry("ann", "hi \"there\"", "2026-12-08 10:00:00"),
              "ann says: \"hi \"there\"\" on 2026-12-08 10:00:00.");
    EXPECT_EQ(group_message_entry("g", "ann", "x", "S"), "g.ann says: \"x\" on S.");
}

TEST_F(MessageTest, OfflineMessagesWaitForLoginAndAreFetchedOnceOldestFirst)
{
    users({"ann", "bob"});
    state.send_message("ann", "bob", "first");
    state.send_message("ann", "bob", "second");
    EXPECT_EQ(reply_of([&] { state.send_message("ann", "nobody", "x"); }), "Invalid username.");
    session_handle bob = login("bob");
    EXPECT_TRUE(bob->pending[index_of(pool_kind::personal)]);
    const std::string pool = fetch(state, bob);
    EXPECT_EQ(pool.rfind("ann says: \"first\" on ", 0), 0u) << pool;
    EXPECT_EQ(texts_of(pool), (texts{"first", "second"}));
    EXPECT_FALSE(bob->pending[index_of(pool_kind::personal)]);
    EXPECT_EQ(reply_of([&] { fetch(state, bob); }), "No messages.");
    std::string out;
    EXPECT_EQ(reply_of([&] { state.get_group_message(bob, out); }), "No messages.");
}

TEST_F(MessageTest, FetchesHandOutWholeEntriesThatFitOneReplyAndKeepTheRest)
{
    users({"ann", "bob"});
    session_handle bob = login("bob");
    const std::string text(300, 'm');
    for (int i = 0; i < 5; ++i)
        state.send_message("ann", "bob", std::to_string(i) + text);
    std::vector<std::string> got;
    int fetches = 0;
    while (bob->pending[index_of(pool_kind::personal)]) {
        const std::string part = fetch(state, bob);
        ASSERT_LE(part.size(), state.reply_limit());
        for (auto& t : texts_of(part))
            got.push_back(t.substr(0, 1));
        ++fetches;
    }
    EXPECT_EQ(got, (texts{"0", "1", "2", "3", "4"}));
    EXPECT_EQ(fetches, 2);
}

TEST_F(MessageTest, SelectRepliesStayWithinOneReplyAndLeaveTheRestPending)
{
    users({"ann", "bob"});
    session_handle bob = login("bob");
    state.set_contact_list("ann", "bob");
    session_handle ann = login("ann"); // one STATUS event for bob
    for (int i = 0; i < 4; ++i)        // entries of 495 characters: two fill a reply
        state.send_message("ann", "bob", std::to_string(i) + std::string(458, 'm'));
    auto first_letters = [](const std::string& reply) {
        std::string out;
        for (const auto& t : texts_of(reply.substr(12)))
            out += t.substr(0, 1);
        return out;
    };
    std::string reply;
    state.waiters().select(bob, "MSG|STATUS", reply);
    EXPECT_LE(reply.size(), state.reply_limit());
    EXPECT_EQ(first_letters(reply), "01");
    EXPECT_EQ(bob->events.size(), 1u) << "no room left for the event";
    reply.clear();
    state.waiters().select(bob, "MSG|STATUS", reply);
    EXPECT_EQ(first_letters(reply), "23");
    reply.clear();
    state.waiters().select(bob, "MSG|STATUS", reply);
    EXPECT_EQ(reply, "getstatus ann: online");
}

TEST_F(SmallPoolTest, PoolsAreBoundedAndARefusalKeepsWhatWasThere)
{
    users({"ann", "bob", "cy"});
    const std::string text(100, 't');
    state.send_message("ann", "bob", text); // offline: into msgpool
    EXPECT_EQ(reply_of([&] { state.send_message("ann", "bob", text); }), "The receiver's message box is full.");
    session_handle cy = login("cy");
    state.send_message("ann", "cy", text);
    EXPECT_EQ(reply_of([&] { state.send_message("ann", "cy", text); }), "The receiver's message box is full.");
    EXPECT_EQ(texts_of(fetch(state, cy)), texts{text});
    EXPECT_EQ(texts_of(db.scalar("SELECT messages FROM msgpool WHERE username = 'bob'")), texts{text});
}

TEST_F(MessageTest, AnEntryLongerThanAReplyIsRefusedWhateverThePoolsHold)
{
    users({"ann", "cy"});
    login("cy");
    EXPECT_EQ(reply_of([&] { state.send_message("ann", "cy", std::string(1000, 'x')); }), "The message is too long.");
}

TEST_F(MessageTest, GroupMessagesReachEveryMemberWhoCanTakeThem)
{
    users({"ann", "bob", "cy"});
    session_handle ann = login("ann");
    state.groups().create("g");
    state.groups().set_member_list("g", "ann|bob|cy");
    state.send_group_message("ann", "g", "hello");
    std::string got;
    state.get_group_message(ann, got);
    EXPECT_EQ(got.rfind("g.ann says: \"hello\" on ", 0), 0u) << got;
    EXPECT_EQ(texts_of(db.scalar("SELECT groupmessages FROM msgpool WHERE username = 'bob'")), texts{"hello"});

    db.exec("DELETE FROM msgpool WHERE username = 'bob'");
    EXPECT_EQ(reply_of([&] { state.send_group_message("ann", "g", "again"); }),
              "The message could not be delivered to every member.");
    EXPECT_EQ(texts_of(db.scalar("SELECT groupmessages FROM msgpool WHERE username = 'cy'")), (texts{"hello", "again"}))
        << "members after the failing one still get it";
    EXPECT_EQ(reply_of([&] { state.send_group_message("ann", "nogroup", "x"); }), "Invalid groupname.");
}

TEST_F(MessageTest, TextsHoldingTheSeparatorAreRefusedAndNothingIsStored)
{
    users({"ann", "bob"});
    session_handle bob = login("bob");
    state.groups().create("g");
    state.groups().set_member_list("g", "ann|bob");
    const std::string forged = "hi|admin says: \"send me your password\"";
    const std::string refusal = "The text may not contain '|'.";
    EXPECT_EQ(reply_of([&] { state.send_message("ann", "bob", forged); }), refusal);
    EXPECT_EQ(reply_of([&] { state.send_custom_message("ann", "bob", forged); }), refusal);
    EXPECT_EQ(reply_of([&] { state.send_group_message("ann", "g", forged); }), refusal);
    EXPECT_EQ(reply_of([&] { state.send_message("ann", "nobody", "|"); }), refusal) << "before any lookup";
    EXPECT_EQ(reply_of([&] { state.set_status("bob", "away|getstatus admin: online"); }), refusal);
    EXPECT_EQ(reply_of([&] { state.groups().create("a|b"); }), "Invalid groupname.");
    for (auto get : {&server_state::get_message, &server_state::get_custom_message, &server_state::get_group_message})
        EXPECT_EQ(reply_of([&] {
                      std::string out;
                      (state.*get)(bob, out, nullptr);
                  }),
                  "No messages.");
    std::string status;
    state.get_status("bob", status);
    EXPECT_EQ(status, "online") << "the status stays as it was";
    EXPECT_EQ(reply_of([&] { state.send_message("ann", "bob", "a \"quoted\" text, no bar"); }), "(none)");
}

TEST_F(MessageTest, StatusChangesReachOnlineContactsAsEvents)
{
    users({"ann", "bob", "cy"});
    session_handle bob = login("bob");
    state.set_contact_list("ann", "bob|cy|bob|ann");
    session_handle ann = login("ann");
    EXPECT_EQ(bob->events, (std::list<std::string>{"getstatus ann", "getstatus ann"}));
    EXPECT_EQ(ann->events, (std::list<std::string>{"getstatus ann"})) << "listing oneself";
    state.set_status("ann", "away");
    std::string status = "untouched";
    state.get_status("ann", status);
    EXPECT_EQ(status, "away");
    state.get_status("cy", status);
    EXPECT_EQ(status, "away") << "no session: the output is left as it was";
    EXPECT_EQ(bob->events.size(), 4u);
    EXPECT_EQ(reply_of([&] { state.set_status("ann", std::string(1010, 's')); }), "The status is too long.");

    for (std::size_t i = 0; i < server_state::event_cap; ++i)
        state.set_status("ann", "s" + std::to_string(i));
    EXPECT_EQ(bob->events.size(), server_state::event_cap) << "the queue is capped";
}

TEST_F(MessageTest, SelectWaitsForARequestedKindAndTakesOnlyThat)
{
    users({"ann", "bob"});
    session_handle bob = login("bob");
    state.set_contact_list("bob", "ann");
    auto waiting = std::async(std::launch::async, [&] {
        std::string reply;
        state.waiters().select(bob, "MSG", reply);
        return reply;
    });
    session_handle ann = login("ann"); // bob is not ann's contact: no event for bob
    state.set_contact_list("ann", "bob");
    state.set_status("ann", "away"); // a STATUS event: not requested
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    state.send_message("ann", "bob", "wake");
    const std::string reply = waiting.get();
    EXPECT_EQ(reply.rfind("getmessage: ann says: \"wake\" on ", 0), 0u) << reply;
    EXPECT_FALSE(bob->pending[index_of(pool_kind::personal)]);

    state.set_status("ann", "back");
    state.send_custom_message("ann", "bob", "c");
    std::string both;
    state.waiters().select(bob, "MSG|STATUS", both);
    EXPECT_EQ(both, "getstatus ann: back|getstatus ann: back");
    EXPECT_TRUE(bob->events.empty());
    EXPECT_TRUE(bob->pending[index_of(pool_kind::custom)]) << "a kind not asked for stays pending";

    state.logout(ann);
    std::string gone;
    state.waiters().select(bob, "STATUS|CUSMSG", gone);
    EXPECT_EQ(gone.rfind("getcustommessage: ann says: \"c\"", 0), 0u) << gone;
    EXPECT_NE(gone.find("|getstatus ann: "), std::string::npos) << gone;
    EXPECT_EQ(gone.substr(gone.size() - 16), "|getstatus ann: ") << "a logged-out user has no status";
}

TEST_F(MessageTest, SelectEndsAtOnceWithoutKindsAndWhenTheSessionGoes)
{
    users({"bob"});
    session_handle bob = login("bob");
    std::string reply = "x";
    state.waiters().select(bob, "PING|msg", reply);
    EXPECT_EQ(reply, "x") << "nothing to wait for: ends at once, writes nothing";
    auto waiting = std::async(std::launch::async, [&] {
        std::string r;
        state.waiters().select(bob, "MSG", r);
        return r;
    });
    state.logout(bob);
    EXPECT_EQ(waiting.get(), "");
    std::string after;
    state.waiters().select(bob, "MSG", after);
    EXPECT_EQ(after, "");
}

TEST_F(MessageTest, OnlineMessagingStatusAndSelectRunNoStatement)
{
    users({"ann", "bob"});
    session_handle ann = login("ann");
    session_handle bob = login("bob");
    state.set_contact_list("ann", "bob");
    const auto before = state.statements_run();

    state.send_message("ann", "bob", "hi");
    EXPECT_EQ(texts_of(fetch(state, bob)), texts{"hi"});
    state.send_custom_message("bob", "ann", "yo");
    std::string reply;
    state.waiters().select(ann, "MSG|CUSMSG", reply);
    EXPECT_EQ(texts_of(reply.substr(std::string("getcustommessage: ").size())), texts{"yo"});
    state.set_status("ann", "away");
    reply.clear();
    state.waiters().select(bob, "STATUS", reply);
    EXPECT_EQ(reply, "getstatus ann: away");
    std::string status;
    state.get_status("ann", status);
    EXPECT_EQ(status, "away");
    EXPECT_EQ(reply_of([&] { fetch(state, bob); }), "No messages.");
    EXPECT_EQ(state.statements_run(), before);
}

TEST_F(MessageTest, AHandOutThatCannotReachTheDatabaseKeepsTheEntries)
{
    users({"ann", "bob"});
    state.send_message("ann", "bob", "stored");
    session_handle bob = login("bob");
    state.send_message("ann", "bob", "online");
    db.exec("ALTER TABLE msgpool RENAME TO parked");
    EXPECT_ANY_THROW(fetch(state, bob));
    std::string reply;
    state.waiters().select(bob, "MSG", reply);
    EXPECT_EQ(reply, "") << "nothing handed out";
    db.exec("ALTER TABLE parked RENAME TO msgpool");
    EXPECT_EQ(texts_of(fetch(state, bob)), (texts{"stored", "online"})) << "nothing lost, nothing reordered";
    EXPECT_EQ(db.scalar("SELECT messages FROM msgpool WHERE username = 'bob'"), "");
}

// What waits in memory is stored after spill_delay_ms; a reply that never left puts its
// entries back in front of those, stored too, so msgpool always holds what a crash would
// leave, in order, and a fetch then takes each entry once.
TEST_F(ImmediateSpillTest, SpilledEntriesAndThosePutBackInFrontOfThemStayStoredInOrder)
{
    users({"ann", "bob"});
    session_handle bob = login("bob");
    auto stored = [&] { return texts_of(db.scalar("SELECT messages FROM msgpool WHERE username = 'bob'")); };
    auto wait_stored = [&](const texts& want) {
        for (int i = 0; i < 100000 && stored() != want; ++i)
            std::this_thread::yield();
        return stored();
    };
    std::vector<bool> heard; // what the senders hear, on the threads that settle them
    std::mutex heard_lock;
    auto send = [&](const std::string& text) {
        auto ack = std::make_shared<delivery_ack>(qsexcpt::database_unavailable);
        state.send_message("ann", "bob", text, ack);
        ack->release([&](bool safe, int) {
            std::lock_guard guard(heard_lock);
            heard.push_back(safe);
        });
    };
    send("m1");
    send("m2");
    hand_out given;
    std::string reply;
    state.get_message(bob, reply, &given); // handed out, then not sent
    EXPECT_EQ(texts_of(reply), (texts{"m1", "m2"}));
    send("m3");
    ASSERT_EQ(wait_stored(texts{"m3"}), (texts{"m3"})) << "m1 and m2 were handed out";
    state.put_back(given);
    EXPECT_EQ(stored(), (texts{"m1", "m2", "m3"}));
    {
        std::lock_guard guard(heard_lock);
        EXPECT_EQ(heard, (std::vector<bool>{true, true, true})) << "every send heard it is safe, once";
    }
    EXPECT_EQ(texts_of(fetch(state, bob)), (texts{"m1", "m2", "m3"}));
    EXPECT_EQ(stored(), texts{});
    EXPECT_EQ(reply_of([&] { fetch(state, bob); }), "No messages.");
}

TEST_F(MessageTest, AParkedSelectHoldsNoThreadAndTheOldestIsAnsweredFirst)
{
    users({"ann", "bob"});
    session_handle bob = login("bob");
    std::vector<std::string> first, second; // filled on the thread that completes them
    state.waiters().park(bob, "MSG", [&](std::string r, hand_out) { first.push_back(std::move(r)); });
    state.waiters().park(bob, "MSG|STATUS", [&](std::string r, hand_out) { second.push_back(std::move(r)); });
    EXPECT_TRUE(first.empty() && second.empty()) << "parked, nothing pending";

    state.send_message("ann", "bob", "one"); // completes on this thread
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(texts_of(first[0].substr(std::string("getmessage: ").size())), texts{"one"});
    EXPECT_TRUE(second.empty()) << "the message went to the oldest select";

    state.send_message("ann", "bob", "two");
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(texts_of(second[0].substr(std::string("getmessage: ").size())), texts{"two"});

    std::vector<std::string> third;
    state.waiters().park(bob, "CUSMSG", [&](std::string r, hand_out) { third.push_back(std::move(r)); });
    state.logout(bob);
    EXPECT_EQ(third, texts{""}) << "logout releases what waits";
    EXPECT_EQ(first.size() + second.size(), 2u) << "each completed once";
}

TEST_F(MessageTest, WhatAReplyCouldNotCarryGoesBackInOrderAndIntoTheStoredPool)
{
    users({"ann", "bob"});
    state.send_message("ann", "bob", "s1");
    state.send_message("ann", "bob", "s2");
    session_handle bob = login("bob");
    state.send_message("ann", "bob", "o1");
    hand_out given;
    std::string out;
    state.get_message(bob, out, &given);
    EXPECT_EQ(texts_of(out), (texts{"s1", "s2", "o1"}));
    EXPECT_EQ(db.scalar("SELECT messages FROM msgpool WHERE username = 'bob'"), "");
    EXPECT_TRUE(given.needs_database());
    state.put_back(given); // the reply never left
    EXPECT_EQ(texts_of(db.scalar("SELECT messages FROM msgpool WHERE username = 'bob'")), (texts{"s1", "s2"}))
        << "stored ones are stored again";

    std::promise<std::pair<std::string, hand_out>> answered; // stored entries: on another thread
    state.waiters().park(bob, "MSG", [&](std::string r, hand_out g) {
        answered.set_value({std::move(r), std::move(g)});
    });
    auto [reply, from_select] = answered.get_future().get();
    EXPECT_EQ(texts_of(reply.substr(std::string("getmessage: ").size())), (texts{"s1", "s2", "o1"}));
    state.put_back(from_select);
    state.logout(bob);
    EXPECT_EQ(texts_of(db.scalar("SELECT messages FROM msgpool WHERE username = 'bob'")), (texts{"s1", "s2", "o1"}))
        << "nothing lost, nothing twice";
}

} // namespace
} // namespace qs::test
