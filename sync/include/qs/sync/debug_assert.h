#pragma once

#include <cstdio>
#include <cstdlib>

// QS_ASSERT(condition): aborts with the condition and where it failed when it is false.
// Active in Debug builds and in sanitizer builds (QS_CHECKS, set by CMake there); in other
// builds the condition is compiled (so that it stays valid) but never evaluated.
#if !defined(NDEBUG) || defined(QS_CHECKS)
#define QS_ASSERT(condition)                                                                                           \
    ((condition) ? static_cast<void>(0) : ::qs::assertion_failed(#condition, __FILE__, __LINE__))
#else
#define QS_ASSERT(condition) static_cast<void>(sizeof(static_cast<bool>(condition)))
#endif

namespace qs {

[[noreturn]] inline void assertion_failed(const char* condition, const char* file, int line) noexcept
{
    std::fprintf(stderr, "%s:%d: assertion failed: %s\n", file, line, condition);
    std::abort();
}

} // namespace qs
