#pragma once

#include <array>
#include <string>

namespace qs {

// The three message pools of a user, in msgpool's column order.
using pool_texts = std::array<std::string, 3>;

// What a login reads of a user in one statement.
struct login_row {
    std::string password;
    std::string contacts;
    pool_texts stored; // empty when the user has no msgpool row
};

} // namespace qs
