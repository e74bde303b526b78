#pragma once

#include <string>
#include <vector>

#include "qs/store/list_encoding.h"
#include "qs/server/logic/server_state.h"
#include "qs/server/logic/settings.h"
#include "store_fixture.h"

namespace qs::test {

// Storing retried for a short while only, so that failures show quickly.
inline state_options quick_retry(settings config = {})
{
    state_options o;
    o.config = std::move(config);
    o.store_retry = std::chrono::milliseconds(300);
    return o;
}

// A fresh server_state on empty tables.
// A test that needs other settings derives a fixture that passes them.
class LogicTest : public StoreTest {
protected:
    LogicTest() = default;
    explicit LogicTest(settings config) : state{quick_retry(std::move(config))} {}

    // Creates the users, each with password "pw".
    void users(std::initializer_list<const char*> names)
    {
        for (const char* n : names)
            state.accounts().new_user(n, "pw");
    }
    session_handle login(const std::string& name) { return state.login(name, "pw"); }

    server_state state{quick_retry()};
};

// The reply text of a qsexcpt thrown by the operation; "(none)" when nothing is thrown.
template <typename F>
std::string reply_of(F&& operation)
{
    try {
        operation();
    } catch (const qsexcpt& e) {
        return e.message;
    }
    return "(none)";
}

// The message texts (between the quotes) of a pool text.
inline std::vector<std::string> texts_of(const std::string& pool)
{
    std::vector<std::string> out;
    if (pool.empty())
        return out;
    for (const auto& entry : split_list(pool)) {
        auto open = entry.find('"');
        auto close = entry.rfind('"');
        out.push_back(open == std::string::npos || close <= open ? entry : entry.substr(open + 1, close - open - 1));
    }
    return out;
}

} // namespace qs::test
