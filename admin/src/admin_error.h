#pragma once

#include <stdexcept>

namespace qs::admin {

// The operation failed (exit status 1); what() is the one-line reason.
class failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The command line is not understood (exit status 2).
class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace qs::admin
