#pragma once

#include <cstdint>
#include <functional>

#include "bench_clock.h"

namespace qsb {

// One epoll instance, level-triggered, driven by the thread that calls run_until.
class event_loop {
public:
    struct handler {
        virtual void on_ready(std::uint32_t events) = 0;

    protected:
        ~handler() = default;
    };

    event_loop();
    ~event_loop();
    event_loop(const event_loop&) = delete;
    event_loop& operator=(const event_loop&) = delete;

    // Adds fd, or changes what it is watched for.
    void watch(int fd, std::uint32_t events, handler& h);
    void forget(int fd);

    // Dispatches ready events until done() holds or the deadline passes; true when done.
    bool run_until(const std::function<bool()>& done, bench_clock::time_point deadline);

private:
    int epfd_;
};

} // namespace qsb
