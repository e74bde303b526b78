#pragma once

#include <cstddef>

namespace qs {

// The three pending pools of a session, one per msgpool column, in its order.
enum class pool_kind { personal, group, custom };

inline constexpr std::size_t pool_kinds = 3;

// The kind's place in a session's pools and in msgpool's columns.
constexpr std::size_t index_of(pool_kind k)
{
    return static_cast<std::size_t>(k);
}

} // namespace qs
