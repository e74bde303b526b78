#include "bounded_jobs.h"

namespace qsb {

bounded_jobs::bounded_jobs(std::size_t n, std::size_t parallel, job_fn job)
    : n_(n), parallel_(parallel), job_(std::move(job))
{
}

void bounded_jobs::start_more()
{
    while (started_ < n_ && started_ - finished_ < parallel_) {
        const std::size_t i = started_++;
        job_(i, [this] {
            ++finished_;
            start_more();
        });
    }
}

} // namespace qsb
