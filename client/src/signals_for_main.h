#pragma once

#include <csignal>
#include <pthread.h>

namespace qs {

// While one lives, SIGINT and SIGTERM wait: threads started meanwhile (libkel's reader,
// the message receiver) never take them, so the main thread, which restores the terminal,
// always does. A signal that came meanwhile arrives when it ends.
class signals_for_main {
public:
    signals_for_main()
    {
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGINT);
        sigaddset(&stop, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stop, &before_);
    }
    ~signals_for_main() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    signals_for_main(const signals_for_main&) = delete;
    signals_for_main& operator=(const signals_for_main&) = delete;

private:
    sigset_t before_;
};

} // namespace qs
