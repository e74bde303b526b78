#include "event_loop.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <unistd.h>

#include "bench_error.h"

namespace qsb {

namespace {

[[noreturn]] void system_error(const char* what)
{
    throw bench_error(std::string(what) + ": " + std::strerror(errno));
}

} // namespace

event_loop::event_loop() : epfd_(::epoll_create1(EPOLL_CLOEXEC))
{
    if (epfd_ < 0)
        system_error("epoll_create1");
}

event_loop::~event_loop()
{
    ::close(epfd_);
}

void event_loop::watch(int fd, std::uint32_t events, handler& h)
{
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = &h;
    if (::epoll_ctl(epfd_, EPOLL_CTL_MOD, fd, &ev) == 0)
        return;
    if (errno != ENOENT || ::epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev) != 0)
        system_error("epoll_ctl");
}

void event_loop::forget(int fd)
{
    ::epoll_ctl(epfd_, EPOLL_CTL_DEL, fd, nullptr);
}

bool event_loop::run_until(const std::function<bool()>& done, bench_clock::time_point deadline)
{
    constexpr int batch = 256;
    epoll_event events[batch];
    while (!done()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - bench_clock::now()).count();
        if (left <= 0)
            return false;
        const int n = ::epoll_wait(epfd_, events, batch, static_cast<int>(std::min<long long>(left, 1000)));
        if (n < 0 && errno != EINTR)
            system_error("epoll_wait");
        for (int i = 0; i < n; ++i)
            static_cast<handler*>(events[i].data.ptr)->on_ready(events[i].events);
    }
    return true;
}

} // namespace qsb
