#pragma once

#include <string>
#include <string_view>

#include <sys/mman.h>
#include <unistd.h>

#include "fuzz_check.h"

namespace qs::fuzz {

// A file held in memory that code opening files by name can read: no disk, nothing to remove.
class memory_file {
public:
    memory_file() : fd_(::memfd_create("qs-fuzz", 0)) { QS_FUZZ_CHECK(fd_ != -1); }
    ~memory_file() { ::close(fd_); }
    memory_file(const memory_file&) = delete;
    memory_file& operator=(const memory_file&) = delete;

    // Replaces the content.
    void write(std::string_view text)
    {
        QS_FUZZ_CHECK(::ftruncate(fd_, 0) == 0);
        QS_FUZZ_CHECK(::pwrite(fd_, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()));
    }

    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

} // namespace qs::fuzz
