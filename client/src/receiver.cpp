// The message receiver: waits with "select MSG" and shows what arrives.
#include "client_app.h"

namespace qs {

namespace {

constexpr std::size_t receive_buffer = 2048;

} // namespace

void client_app::start_receiver()
{
    if (receiver_.joinable())
        receiver_.join();  // the last one has ended: its session is gone
    receiver_ = std::thread(&client_app::receive, this);
}

// Ends on a result without a colon (nobody is logged in any more) or when the
// connection ends.
void client_app::receive()
{
    try {
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
    } catch (const exception&) {
    }
}

} // namespace qs
