#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "logic_fixture.h"
#include "qs/net/frame.h"

namespace qs::test {

// One write holding newuser x, login x and 40 messages from x to itself: the login must
// see the new user and the messages must arrive in the order sent, whatever the transport.
inline std::string pipelined_burst()
{
    std::string burst = encode_frame(1, "newuser x pw") + encode_frame(2, "login x pw");
    for (int i = 0; i < 40; ++i)
        burst += encode_frame(10 + i, "sendmessage x m" + std::to_string(i));
    return burst;
}

// Reads the burst's 42 replies, then fetches x's messages and checks their order.
template <class Client>
void expect_burst_in_order(Client& raw)
{
    std::map<std::int32_t, std::string> replies;
    while (replies.size() < 42) {
        frame f = raw.next();
        replies[f.cid] = f.text;
    }
    EXPECT_EQ(replies[1], "Ok.");
    EXPECT_EQ(replies[2], "Ok.") << "the login ran after the newuser before it";
    std::vector<std::string> got;
    for (int round = 0; round < 100; ++round) {
        raw.send(encode_frame(1000 + round, "getmessage"));
        const std::string reply = raw.next().text;
        if (reply == "No messages.")
            break;
        for (auto& t : texts_of(reply))
            got.push_back(t);
    }
    ASSERT_EQ(got.size(), 40u);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(got[static_cast<std::size_t>(i)], "m" + std::to_string(i));
}

} // namespace qs::test
