#pragma once

#include <boost/system/error_code.hpp>
#include <boost/system/system_error.hpp>

// The network core's names for Boost.Asio, so that its code says asio:: for short. Holds
// no Asio header: each file includes the parts it uses.
namespace boost::asio {
}

namespace qs {

namespace asio = boost::asio;
using error_code = boost::system::error_code;     // what Asio's operations report
using system_error = boost::system::system_error; // what they throw: not a std::system_error

} // namespace qs
