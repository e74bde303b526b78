#pragma once

#include <cstdint>

namespace qs {

// The integer-coded failure every deliverable throws; the code means something
// only together with the operation that threw it. Thrown by value, caught by reference.
class exception {
public:
    exception(int code);
    exception(const exception& other) = default;
    ~exception(); // NOLINT(performance-trivially-destructible): libfault's ABI defines it there

    // Copies the code and nothing else.
    exception& operator=(const exception& other)
    {
        code_ = other.code_;
        return *this;
    }

    int code() const noexcept { return code_; }

private:
    std::int32_t code_;
};

} // namespace qs
