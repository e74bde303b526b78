// dm and latency with the receivers on another server than the senders: who talks to whom.
#include <gtest/gtest.h>
#include <optional>
#include <vector>

#include "fake_server.h"
#include "workloads.h"

namespace qsb {
namespace {

// One node's side of the run: answers what it is asked and keeps every request.
// Sends are refused, so that a workload ends without any message delivered.
struct node {
    std::vector<std::string> requests;

    std::optional<std::string> answer(const std::string& request)
    {
        requests.push_back(request);
        if (request == "select MSG")
            return std::nullopt; // waits
        if (request == "getmessage")
            return "No messages.";
        if (request.rfind("sendmessage ", 0) == 0)
            return "The user is not online.";
        return "Ok.";
    }

    // How many requests start with `word`, and how many of those name an account of `role`.
    std::pair<int, int> count(const std::string& word, const std::string& role) const
    {
        int all = 0, of_role = 0;
        for (const auto& r : requests) {
            if (r.rfind(word + " ", 0) != 0 && r != word)
                continue;
            ++all;
            of_role += r.find(" qsb" + role) != std::string::npos ? 1 : 0;
        }
        return {all, of_role};
    }
};

// Two fake servers; each node's requests may be read once run() has returned.
struct two_nodes {
    // Connections each node accepts: the senders' node creates the accounts; the
    // receivers' node clears their boxes, one connection each, before they log in.
    two_nodes(int at_senders, int at_receivers)
    {
        senders_node.emplace(at_senders, [this](int, const std::string& r) { return senders.answer(r); });
        receivers_node.emplace(at_receivers, [this](int, const std::string& r) { return receivers.answer(r); });
        opt.port = senders_node->port();
        opt.receiver_port = receivers_node->port();
        opt.drain = 10;
    }

    // The workload's JSON line, once both servers have seen every connection closed.
    std::string run(json_line (*workload)(run_context&))
    {
        std::string line;
        {
            run_context ctx(opt);
            line = workload(ctx).str();
        }
        senders_node.reset();
        receivers_node.reset();
        return line;
    }

    node senders, receivers;
    std::optional<test::fake_server> senders_node, receivers_node;
    options opt;
};

TEST(ReceiverServer, DmReceiversLogInAndSelectOnlyOnTheirServer)
{
    two_nodes nodes(2 + 2, 2 + 2);
    nodes.opt.pairs = 2;
    nodes.opt.count = 6;
    nodes.opt.window = 2;
    const int receivers_port = nodes.opt.receiver_port;
    const std::string line = nodes.run(run_dm);
    EXPECT_EQ(nodes.senders.count("newuser", "d"), std::make_pair(4, 4));
    EXPECT_EQ(nodes.senders.count("login", "ds"), std::make_pair(2, 2)) << "only the senders log in there";
    EXPECT_EQ(nodes.senders.count("sendmessage", "dr"), std::make_pair(6, 6));
    EXPECT_EQ(nodes.senders.count("select", ""), std::make_pair(0, 0));
    EXPECT_EQ(nodes.receivers.count("login", "dr"), std::make_pair(4, 4)) << "clearing the boxes, then waiting";
    EXPECT_EQ(nodes.receivers.count("select", ""), std::make_pair(2, 0));
    EXPECT_EQ(nodes.receivers.count("sendmessage", ""), std::make_pair(0, 0));
    EXPECT_NE(line.find("\"receiver_host\":\"127.0.0.1\",\"receiver_port\":" + std::to_string(receivers_port) + ","),
              std::string::npos)
        << line;
    EXPECT_NE(line.find("\"refused\":6,"), std::string::npos) << line;
}

TEST(ReceiverServer, LatencyReceiverLogsInAndSelectsOnlyOnItsServer)
{
    two_nodes nodes(1 + 1, 1 + 1);
    nodes.opt.count = 3;
    nodes.run(run_latency);
    EXPECT_EQ(nodes.senders.count("login", "ps"), std::make_pair(1, 1));
    EXPECT_EQ(nodes.senders.count("sendmessage", "pr"), std::make_pair(3, 3));
    EXPECT_EQ(nodes.receivers.count("login", "pr"), std::make_pair(2, 2));
    EXPECT_EQ(nodes.receivers.count("select", ""), std::make_pair(1, 0));
    EXPECT_EQ(nodes.receivers.count("sendmessage", ""), std::make_pair(0, 0));
}

} // namespace
} // namespace qsb
