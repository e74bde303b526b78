#include "qs/server/logic/server_metrics.h"

namespace qs {

server_metrics& metrics() noexcept
{
    static server_metrics counters;
    return counters;
}

} // namespace qs
