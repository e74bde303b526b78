#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "client.h"
#include "run_context.h"

namespace qsb {

// "<prefix><role><i>" for i in 0..n-1.
std::vector<std::string> account_names(const options& opt, std::string_view role, int n);

// Creates the accounts over one connection; accounts that exist already are fine.
void ensure_accounts(run_context& ctx, const std::vector<std::string>& names);

// One client per name, each connected to `at` (ctx.server unless given) and logged in
// as its name. Connects a bounded number at a time, so the server's listen backlog never
// overflows.
std::vector<std::unique_ptr<client>> log_in_all(run_context& ctx, const std::vector<std::string>& names);
std::vector<std::unique_ptr<client>> log_in_all(run_context& ctx, const std::vector<std::string>& names,
                                                const endpoint& at);

// A reply that must be "Ok.": anything else fails the workload, naming what was asked.
client::reply_fn expect_ok(run_context& ctx, std::string what, std::function<void()> then);

} // namespace qsb
