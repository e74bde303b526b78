#include "latency.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <string>

namespace qsb {

double latency_log::percentile_us(double q)
{
    if (samples_.empty())
        return std::numeric_limits<double>::quiet_NaN();
    if (!sorted_)
        std::sort(samples_.begin(), samples_.end());
    sorted_ = true;
    const double rank = std::ceil(q * static_cast<double>(samples_.size()));
    const std::size_t i = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    return static_cast<double>(samples_[std::min(i, samples_.size() - 1)]) / 1000.0;
}

double latency_log::mean_us() const
{
    if (samples_.empty())
        return std::numeric_limits<double>::quiet_NaN();
    const long double sum = std::accumulate(samples_.begin(), samples_.end(), 0.0L);
    return static_cast<double>(sum / samples_.size()) / 1000.0;
}

void latency_log::report(json_line& out, const char* prefix)
{
    const std::string p = prefix;
    out.add(p + "_p50_us", percentile_us(0.50));
    out.add(p + "_p99_us", percentile_us(0.99));
    out.add(p + "_mean_us", mean_us());
    out.add(p + "_max_us", percentile_us(1.0));
}

} // namespace qsb
