#include "send_tally.h"

namespace qsb {

void send_tally::replied(std::uint64_t id, const std::string& reply)
{
    if (reply == "Ok.") {
        ++acknowledged;
        log.acknowledged(id);
        return;
    }
    ++refused;
    ++refusals[reply];
    log.refused(id);
}

void send_tally::report(json_line& out) const
{
    out.add("sent", sent_count).add("acknowledged", acknowledged).add("refused", refused).add("refusals", refusals);
    out.add("delivered", static_cast<long long>(log.delivered()));
    log.report(out);
}

} // namespace qsb
