#include "qs/fault/exception.h"

namespace qs {

exception::exception(int code) : code_(code) {}

exception::~exception() = default;

} // namespace qs
