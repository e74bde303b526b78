#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "qs/sync/thread_annotations.h"

namespace qs {

// std::mutex as a capability that Clang's analysis follows: members GUARDED_BY one are
// touched only while it is held. Lock it through lock_guard or unique_lock.
class CAPABILITY("mutex") mutex {
public:
    void lock() ACQUIRE() { m_.lock(); }
    void unlock() RELEASE() { m_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return m_.try_lock(); }

private:
    friend class unique_lock;
    std::mutex m_;
};

// Holds the mutex for its whole scope.
class SCOPED_CAPABILITY lock_guard {
public:
    explicit lock_guard(mutex& m) ACQUIRE(m) : m_(m) { m_.lock(); }
    ~lock_guard() RELEASE() { m_.unlock(); }
    lock_guard(const lock_guard&) = delete;
    lock_guard& operator=(const lock_guard&) = delete;

private:
    mutex& m_;
};

// Holds the mutex from construction; may let it go and take it again, and waits on a
// condition variable (which lets it go while waiting: to the analysis it stays held).
class SCOPED_CAPABILITY unique_lock {
public:
    explicit unique_lock(mutex& m) ACQUIRE(m) : lock_(m.m_) {}
    ~unique_lock() RELEASE() {}
    unique_lock(const unique_lock&) = delete;
    unique_lock& operator=(const unique_lock&) = delete;

    void lock() ACQUIRE() { lock_.lock(); }
    void unlock() RELEASE() { lock_.unlock(); }

    void wait(std::condition_variable& cv) { cv.wait(lock_); }
    template <class Clock, class Duration>
    std::cv_status wait_until(std::condition_variable& cv, const std::chrono::time_point<Clock, Duration>& at)
    {
        return cv.wait_until(lock_, at);
    }

private:
    std::unique_lock<std::mutex> lock_;
};

} // namespace qs
