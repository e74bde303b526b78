#pragma once

#include <chrono>
#include <cstdint>

namespace qsb {

// steady_clock is CLOCK_MONOTONIC on Linux: every thread of the process reads the same clock.
using bench_clock = std::chrono::steady_clock;

inline std::int64_t now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(bench_clock::now().time_since_epoch()).count();
}

inline bench_clock::time_point after_seconds(double s)
{
    return bench_clock::now() + std::chrono::duration_cast<bench_clock::duration>(std::chrono::duration<double>(s));
}

inline double seconds_since(bench_clock::time_point start)
{
    return std::chrono::duration<double>(bench_clock::now() - start).count();
}

} // namespace qsb
