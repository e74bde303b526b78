#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "logic_fixture.h"
#include "qs/server/logic/settings.h"

namespace qs::test {
namespace {

// Pools large enough for every message of the run.
class StressTest : public LogicTest {
protected:
    StressTest() : LogicTest(large_pools()) {}
    static settings large_pools()
    {
        settings s;
        s.max_field_len = 1000000;
        return s;
    }
};

constexpr int receivers = 4;
constexpr int senders = 4;
constexpr int messages_each = 50;

// Everything the receivers got, by receiver.
class inbox {
public:
    void add(int receiver, const std::string& pool)
    {
        std::lock_guard guard(lock_);
        for (auto& text : texts_of(pool))
            got_[text].push_back(receiver);
    }
    std::map<std::string, std::vector<int>> got()
    {
        std::lock_guard guard(lock_);
        return got_;
    }

private:
    std::mutex lock_;
    std::map<std::string, std::vector<int>> got_; // guarded by lock_
};

// Takes every pending personal and custom message of the session.
void drain(server_state& state, const session_handle& h, int receiver, inbox& box)
{
    for (auto fetch : {&server_state::get_message, &server_state::get_custom_message}) {
        for (;;) {
            std::string out;
            try {
                (state.*fetch)(h, out, nullptr);
            } catch (const qsexcpt&) {
                break;
            }
            box.add(receiver, out);
        }
    }
}

// One login-to-logout round: a select waits on the side while the receiver fetches,
// and the round ends with a logout or with the end of the connection.
void round_trip(server_state& state, int receiver, bool connection_ends, inbox& box)
{
    const std::string name = "r" + std::to_string(receiver);
    session_handle h = state.login(name, "pw");
    auto selecting = std::async(std::launch::async, [&] {
        std::string reply;
        state.waiters().select(h, "MSG|CUSMSG", reply);
        return reply;
    });
    drain(state, h, receiver, box);
    if (connection_ends)
        state.logout_user(name);
    else
        state.logout(h);
    // "getmessage: <pool>|getcustommessage: <pool>", either section alone, or nothing.
    std::string reply = selecting.get();
    const std::string custom = "getcustommessage: ";
    if (auto at = reply.find(custom); at != std::string::npos) {
        box.add(receiver, reply.substr(at + custom.size()));
        reply.erase(at == 0 ? 0 : at - 1);
    }
    if (!reply.empty())
        box.add(receiver, reply.substr(std::string("getmessage: ").size()));
}

// Senders write to users who log in and out meanwhile: every message arrives exactly
// once, at its receiver, whether it went to a session or to msgpool.
TEST_F(StressTest, EveryMessageArrivesExactlyOnceWhileReceiversComeAndGo)
{
    for (int r = 0; r < receivers; ++r)
        state.accounts().new_user("r" + std::to_string(r), "pw");
    for (int s = 0; s < senders; ++s)
        state.accounts().new_user("s" + std::to_string(s), "pw");

    std::atomic<int> sending{senders};
    std::atomic<int> failures{0};
    inbox box;
    std::vector<std::thread> threads;
    for (int s = 0; s < senders; ++s) {
        threads.emplace_back([&, s] {
            for (int j = 0; j < messages_each; ++j) {
                const std::string from = "s" + std::to_string(s);
                const std::string to = "r" + std::to_string(j % receivers);
                const std::string text = from + "-" + std::to_string(j);
                try {
                    if (j % 3 == 0)
                        state.send_custom_message(from, to, text);
                    else
                        state.send_message(from, to, text);
                } catch (...) {
                    ++failures;
                }
            }
            --sending;
        });
    }
    for (int r = 0; r < receivers; ++r) {
        threads.emplace_back([&, r] {
            for (int round = 0; sending > 0 || round < 3; ++round)
                round_trip(state, r, round % 2 == 1, box);
            round_trip(state, r, false, box); // whatever was stored after the last round
        });
    }
    for (auto& t : threads)
        t.join();

    EXPECT_EQ(failures.load(), 0);
    const auto got = box.got();
    int lost = 0, duplicated = 0, misdelivered = 0;
    for (int s = 0; s < senders; ++s) {
        for (int j = 0; j < messages_each; ++j) {
            auto it = got.find("s" + std::to_string(s) + "-" + std::to_string(j));
            if (it == got.end())
                ++lost;
            else if (it->second.size() > 1)
                ++duplicated;
            else if (it->second[0] != j % receivers)
                ++misdelivered;
        }
    }
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(duplicated, 0);
    EXPECT_EQ(misdelivered, 0);
    EXPECT_EQ(got.size(), static_cast<std::size_t>(senders * messages_each));
}

} // namespace
} // namespace qs::test
