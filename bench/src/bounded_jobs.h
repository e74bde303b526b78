#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace qsb {

// Starts job(i, finished) for i in 0..n-1 with at most `parallel` unfinished at once;
// a job calls finished() once when it is done, from an event callback. Returns at
// once; all_done() tells when every job has finished.
class bounded_jobs {
public:
    using job_fn = std::function<void(std::size_t i, std::function<void()> finished)>;

    bounded_jobs(std::size_t n, std::size_t parallel, job_fn job);
    void start() { start_more(); }
    bool all_done() const { return finished_ == n_; }
    std::size_t finished() const { return finished_; }

private:
    void start_more();

    std::size_t n_, parallel_;
    job_fn job_;
    std::size_t started_ = 0, finished_ = 0;
};

} // namespace qsb
