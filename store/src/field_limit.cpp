#include <atomic>

#include "qs/store/store_codes.h"

namespace qs::store_codes {

namespace {

constexpr int default_limit = 2048;

std::atomic<int> limit{default_limit}; // set once at start by the program, read by any thread

} // namespace

int max_field_len()
{
    return limit.load(std::memory_order_relaxed);
}

void set_max_field_len(int characters)
{
    limit.store(characters, std::memory_order_relaxed);
}

} // namespace qs::store_codes
