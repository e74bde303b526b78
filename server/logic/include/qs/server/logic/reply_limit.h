#pragma once

#include <cstddef>

namespace qs {

// The most text one reply may carry: min(buff_size, 1024) - 5.
std::size_t reply_limit();

} // namespace qs
