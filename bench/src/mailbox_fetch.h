#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "run_context.h"

namespace qsb {

struct fetch_result {
    long long replies = 0;   // getmessage replies with entries
    long long malformed = 0; // entries of another form
};

// Logs each user in at `at`, calls getmessage until "No messages.", and logs out; hands
// over the text of every entry with the index of the user it came to. A reply that is
// neither entries nor "No messages." fails the workload.
fetch_result fetch_all(run_context& ctx, const endpoint& at, const std::vector<std::string>& names,
                       const std::function<void(std::size_t user, std::string_view text)>& on_text);

// Takes out what earlier runs left in the boxes of users who log in at `at`; returns
// how many entries.
long long clear_boxes(run_context& ctx, const endpoint& at, const std::vector<std::string>& names);

} // namespace qsb
