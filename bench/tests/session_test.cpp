// The conversations with the server, against a scripted fake one.
#include <gtest/gtest.h>
#include <map>

#include "accounts.h"
#include "bench_error.h"
#include "fake_server.h"
#include "mailbox_fetch.h"
#include "select_receiver.h"

namespace qsb {
namespace {

std::string entry(const char* sender, const char* text)
{
    return std::string(sender) + " says: \"" + text + "\" on 2026-12-08 10:00:00.";
}

// What the bench_error thrown by f says; empty when f throws none.
std::string error_of(const std::function<void()>& f)
{
    try {
        f();
    } catch (const bench_error& e) {
        return e.what();
    }
    return "";
}

options on_port(int port)
{
    options o;
    o.port = port;
    o.drain = 10;
    return o;
}

TEST(SelectReceiver, HandsOverEveryEntryAndWaitsAgain)
{
    int selects = 0;
    test::fake_server server(1, [&](int, const std::string& request) -> std::optional<std::string> {
        EXPECT_EQ(request, "select MSG");
        ++selects;
        if (selects == 1)
            return "getmessage: " + entry("ann", "s0n0t5") + "|" + entry("ann", "s0n1t6");
        if (selects == 2)
            return "getmessage: " + entry("ann", "s0n2t7") + "|" + entry("ann", "hello");
        return std::nullopt; // the third waits
    });
    const options o = on_port(server.port());
    run_context ctx(o);
    client c(ctx.loop, ctx.server);
    c.open();
    std::vector<std::uint64_t> ids;
    select_receiver r(ctx, c, [&](const bench_message& m, std::int64_t) { ids.push_back(m.id); });
    r.start();
    ctx.wait_for(
        "three messages", [&] { return ids.size() == 3 && c.awaiting() == 1; }, after_seconds(10));
    EXPECT_EQ(ids, (std::vector<std::uint64_t>{0, 1, 2}));
    EXPECT_EQ(r.malformed(), 1u);
}

TEST(SelectReceiver, AnyOtherReplyFailsTheRun)
{
    test::fake_server server(1, [](int, const std::string&) { return std::optional<std::string>(""); });
    const options o = on_port(server.port());
    run_context ctx(o);
    client c(ctx.loop, ctx.server);
    c.open();
    select_receiver r(ctx, c, [](const bench_message&, std::int64_t) {});
    r.start();
    EXPECT_EQ(error_of([&] {
                  ctx.wait_for(
                      "nothing", [] { return false; }, after_seconds(10));
              }),
              "select answered ''");
}

// Two users with two messages and one message; each login fetches until "No messages.".
struct mailboxes {
    std::map<int, std::vector<std::string>> requests; // by connection
    std::map<int, std::string> user;
    std::map<std::string, std::vector<std::string>> boxes{
        {"ann", {entry("bob", "s1n0t1") + "|" + entry("bob", "s1n2t1")}}, {"cat", {entry("bob", "s1n1t1")}}};

    std::optional<std::string> answer(int conn, const std::string& request)
    {
        requests[conn].push_back(request);
        if (request.rfind("login ", 0) == 0)
            user[conn] = request.substr(6, request.find(' ', 6) - 6);
        if (request != "getmessage")
            return "Ok.";
        auto& box = boxes[user[conn]];
        if (box.empty())
            return "No messages.";
        std::string reply = box.front();
        box.erase(box.begin());
        return reply;
    }
};

TEST(MailboxFetch, FetchesUntilNoMessagesThenLogsOut)
{
    mailboxes m;
    test::fake_server server(2, [&](int conn, const std::string& r) { return m.answer(conn, r); });
    const options o = on_port(server.port());
    run_context ctx(o);
    std::multimap<std::size_t, std::string> got;
    const fetch_result r = fetch_all(ctx, ctx.server, {"ann", "cat"},
                                     [&](std::size_t user, std::string_view text) { got.emplace(user, text); });
    EXPECT_EQ(r.replies, 2);
    EXPECT_EQ(got, (std::multimap<std::size_t, std::string>{{0, "s1n0t1"}, {0, "s1n2t1"}, {1, "s1n1t1"}}));
    for (auto& [conn, requests] : m.requests) {
        EXPECT_EQ(requests.front(), "login " + m.user[conn] + " pw");
        EXPECT_EQ(requests.back(), "logout");
    }
}

TEST(MailboxFetch, AnErrorReplyFailsTheRun)
{
    test::fake_server server(1, [](int, const std::string& r) {
        return std::optional<std::string>(r == "getmessage" ? "The database is not available." : "Ok.");
    });
    const options o = on_port(server.port());
    run_context ctx(o);
    EXPECT_EQ(error_of([&] { fetch_all(ctx, ctx.server, {"ann"}, [](std::size_t, std::string_view) {}); }),
              "getmessage for ann answered 'The database is not available.'");
}

TEST(Accounts, AnExistingAccountIsFineAnyOtherRefusalIsNot)
{
    test::fake_server server(2, [](int, const std::string& r) {
        return std::optional<std::string>(r == "newuser old pw"   ? "The user is already exist."
                                          : r == "newuser b|d pw" ? "Invalid username."
                                                                  : "Ok.");
    });
    const options o = on_port(server.port());
    run_context ctx(o);
    EXPECT_NO_THROW(ensure_accounts(ctx, {"new", "old"}));
    EXPECT_EQ(error_of([&] { ensure_accounts(ctx, {"new", "b|d"}); }), "newuser b|d: Invalid username.");
}

TEST(Accounts, ARefusedLoginNamesTheUser)
{
    test::fake_server server(2, [](int, const std::string& r) {
        return std::optional<std::string>(r == "login bob pw" ? "The user is already online." : "Ok.");
    });
    const options o = on_port(server.port());
    run_context ctx(o);
    EXPECT_EQ(error_of([&] { log_in_all(ctx, {"ann", "bob"}); }), "login bob: The user is already online.");
}

} // namespace
} // namespace qsb
