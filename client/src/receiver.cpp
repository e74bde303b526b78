// The message receiver: waits with "select MSG" and shows what arrives.
#include "client_app.h"
#include "signals_for_main.h"

namespace qs {

namespace {

constexpr std::size_t receive_buffer = 2048;

} // namespace

// One thread for the client's life: a run that starts late (its log-in already gone)
// never waits in a later session's place, because every log-in asks for a run of its own.
void client_app::start_receiver()
{
    {
        std::lock_guard guard(receiver_lock_);
        ++runs_wanted_;
    }
    receiver_wanted_.notify_one();
    if (!receiver_.joinable()) {
        const signals_for_main only_main;
        receiver_ = std::thread(&client_app::receive, this);
    }
}

// A run ends on a result without a colon (nobody is logged in any more); the thread
// ends at quit or when the connection ends, which it reports unless the client is
// quitting anyway.
void client_app::receive()
{
    unsigned runs_done = 0;
    try {
        for (;;) {
            {
                std::unique_lock guard(receiver_lock_);
                receiver_wanted_.wait(guard, [&] { return quitting_ || runs_wanted_ != runs_done; });
                if (quitting_)
                    return;
                runs_done = runs_wanted_;
            }
            receive_run();
        }
    } catch (const connection_lost&) {
        if (!quitting())
            con_.report_lost();
    }
}

bool client_app::quitting()
{
    std::lock_guard guard(receiver_lock_);
    return quitting_;
}

void client_app::receive_run()
{
    for (;;) {
        const std::string result = exec("select MSG", receive_buffer);
        const auto colon = result.find(':');
        if (colon == std::string::npos)
            return;
        const std::string text = result.substr(colon + 1);
        if (talk_mode_)
            con_.show_now(text);
        else
            con_.show_and_wait(text);
    }
}

} // namespace qs
