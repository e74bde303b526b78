#pragma once

#include <boost/asio/post.hpp>

#include "qs/cluster/bus.h"

namespace qs::cluster {

// A sink posting to an Asio executor (an event loop's, or a strand of it).
template <typename Executor>
sink post_to(Executor executor)
{
    return [executor](task t) { boost::asio::post(executor, std::move(t)); };
}

} // namespace qs::cluster
