#include "mailbox_fetch.h"

#include <memory>

#include "accounts.h"
#include "bounded_jobs.h"
#include "message_text.h"

namespace qsb {

namespace {

constexpr std::size_t parallel_fetches = 32;

// One user's fetch: login, getmessage until "No messages.", logout.
struct mailbox {
    run_context& ctx;
    const endpoint& at;
    std::size_t index;
    std::string name;
    const std::function<void(std::size_t, std::string_view)>& on_text;
    fetch_result& result;
    std::function<void()> finished;
    client c{ctx.loop, at};

    void begin()
    {
        c.on_error(ctx.fail_as("fetching for " + name));
        c.open();
        c.request("login " + name + " " + ctx.opt.password, expect_ok(ctx, "login " + name, [this] { fetch(); }));
    }

    void fetch()
    {
        c.request("getmessage", [this](const std::string& reply) { on_reply(reply); });
    }

    void on_reply(const std::string& reply)
    {
        if (reply == "No messages.") {
            c.request("logout", expect_ok(ctx, "logout " + name, [this] {
                          c.close();
                          finished();
                      }));
            return;
        }
        std::size_t bad = 0;
        const auto texts = entry_texts(reply, bad);
        if (texts.empty()) {
            if (ctx.failure.empty())
                ctx.failure = "getmessage for " + name + " answered '" + reply + "'";
            return;
        }
        ++result.replies;
        result.malformed += static_cast<long long>(bad);
        for (std::string_view text : texts)
            on_text(index, text);
        fetch();
    }
};

} // namespace

fetch_result fetch_all(run_context& ctx, const endpoint& at, const std::vector<std::string>& names,
                       const std::function<void(std::size_t user, std::string_view text)>& on_text)
{
    fetch_result result;
    std::vector<std::unique_ptr<mailbox>> boxes;
    bounded_jobs jobs(names.size(), parallel_fetches, [&](std::size_t i, std::function<void()> finished) {
        boxes.push_back(
            std::unique_ptr<mailbox>(new mailbox{ctx, at, i, names[i], on_text, result, std::move(finished)}));
        boxes.back()->begin();
    });
    jobs.start();
    ctx.wait_for(
        "the receivers' messages", [&] { return jobs.all_done(); }, after_seconds(ctx.opt.drain));
    return result;
}

long long clear_boxes(run_context& ctx, const endpoint& at, const std::vector<std::string>& names)
{
    long long left = 0;
    fetch_all(ctx, at, names, [&](std::size_t, std::string_view) { ++left; });
    return left;
}

} // namespace qsb
