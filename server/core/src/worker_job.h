#pragma once

#include <atomic>

#include "worker_pool.h"

namespace qs {

// A command handed to a worker, shared by its connection's loop and the worker: the
// first of the worker's finish and the loop's deadline decides who answers. The phase
// only moves forward, by compare-and-swap; ticket is the loop's alone.
class worker_job {
public:
    enum class phase { waiting, running, finished, abandoned };

    // Worker: starts the command; false when it was given up before it ran (it never runs).
    bool begin() noexcept { return advance(phase::waiting, phase::running); }
    // Worker: true when its result is still wanted; false when the loop answered instead.
    bool finish() noexcept { return advance(phase::running, phase::finished); }
    // Loop: gives up on the command; returns the phase it had (finished: its answer is on
    // the way, and nothing changes).
    phase abandon() noexcept
    {
        phase seen = phase_.load(std::memory_order_acquire);
        while ((seen == phase::waiting || seen == phase::running) &&
               !phase_.compare_exchange_weak(seen, phase::abandoned, std::memory_order_acq_rel)) {
        }
        return seen;
    }

    worker_pool::ticket ticket; // set when posted

private:
    bool advance(phase from, phase to) noexcept
    {
        return phase_.compare_exchange_strong(from, to, std::memory_order_acq_rel);
    }

    std::atomic<phase> phase_{phase::waiting};
};

} // namespace qs
