#pragma once

#include <stdexcept>

namespace qsb {

// Why a workload could not run; qsbench prints it and exits non-zero.
struct bench_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace qsb
