#pragma once

#include <cstdint>
#include <vector>

#include "json_line.h"

namespace qsb {

// Durations in nanoseconds, summed up as percentiles in microseconds.
class latency_log {
public:
    void add(std::int64_t ns)
    {
        samples_.push_back(ns);
        sorted_ = false;
    }
    std::size_t size() const { return samples_.size(); }

    // The q-quantile (0..1) in microseconds, nearest rank; NaN when empty.
    double percentile_us(double q);
    double mean_us() const;

    // Adds <prefix>_p50_us, _p99_us, _mean_us and _max_us.
    void report(json_line& out, const char* prefix);

private:
    std::vector<std::int64_t> samples_;
    bool sorted_ = true;
};

} // namespace qsb
