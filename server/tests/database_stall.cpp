#include "database_stall.h"

#include <future>
#include <gtest/gtest.h>
#include <latch>
#include <thread>

namespace qs::test {

stall_cast::stall_cast(int port, const std::vector<std::string>& users) : port_(port)
{
    client admin(port);
    for (const auto& name : users)
        EXPECT_EQ(admin.exec("newuser " + name + " pw"), "Ok.") << name;
}

void stall_cast::log_in(const std::vector<std::string>& users)
{
    for (const auto& name : users) {
        auto c = std::make_unique<client>(port_);
        EXPECT_EQ(c->exec("login " + name + " pw"), "Ok.") << name;
        logged_in_[name] = std::move(c);
    }
}

client& stall_cast::as(const std::string& user)
{
    return *logged_in_.at(user);
}

client& stall_cast::fresh()
{
    others_.push_back(std::make_unique<client>(port_));
    return *others_.back();
}

std::vector<stall_cast::answer> stall_cast::at_once(const std::vector<std::pair<std::string, std::string>>& requests)
{
    std::vector<client*> senders;
    for (const auto& [user, command] : requests)
        senders.push_back(user.empty() ? &fresh() : &as(user));
    std::latch go(static_cast<std::ptrdiff_t>(requests.size()));
    std::vector<std::future<answer>> pending;
    for (std::size_t i = 0; i < requests.size(); ++i)
        pending.push_back(std::async(std::launch::async, [&, i] {
            const std::string& command = requests[i].second;
            go.arrive_and_wait();
            const auto sent = std::chrono::steady_clock::now();
            std::string reply;
            try {
                reply = senders[i]->exec(command);
            } catch (...) {
                reply = "(connection lost)";
            }
            return answer{command, reply, std::chrono::steady_clock::now() - sent};
        }));
    std::vector<answer> out;
    for (std::size_t i = 0; i < pending.size(); ++i) {
        if (pending[i].wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
            ADD_FAILURE() << requests[i].second << " got no reply within a minute";
            senders[i]->close(); // its exec fails
        }
        out.push_back(pending[i].get());
    }
    return out;
}

std::unique_ptr<client> eventually_ok(int port, const std::string& command)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        auto c = std::make_unique<client>(port);
        if (c->exec(command) == "Ok.")
            return c;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return nullptr;
}

std::size_t count_of(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

} // namespace qs::test
