// Throughput of the command logic on the embedded SQLite database.
#include <benchmark/benchmark.h>

#include "qs/server/logic/server_state.h"
#include "qs/server/logic/settings.h"
#include "test_database.h"

namespace {

qs::server_state& fresh_state()
{
    static qs::server_state* state = nullptr;
    qs::test::test_database::get().reset();
    delete state;
    qs::state_options options;
    options.config.max_field_len = 1 << 30;
    state = new qs::server_state(options);
    state->accounts().new_user("ann", "pw");
    state->accounts().new_user("bob", "pw");
    return *state;
}

void SendToOnlineUser(benchmark::State& st)
{
    auto& state = fresh_state();
    auto bob = state.login("bob", "pw");
    std::string out;
    for (auto _ : st) {
        state.send_message("ann", "bob", "hello");
        state.get_message(bob, out);
    }
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(SendToOnlineUser);

void SendToOfflineUser(benchmark::State& st)
{
    auto& state = fresh_state();
    for (auto _ : st)
        state.send_message("ann", "bob", "hello");
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(SendToOfflineUser)->Iterations(300);

void LoginLogout(benchmark::State& st)
{
    auto& state = fresh_state();
    for (auto _ : st)
        state.logout(state.login("bob", "pw"));
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(LoginLogout);

} // namespace

BENCHMARK_MAIN();
