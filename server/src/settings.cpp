#include "qs/settings.h"

namespace qs {

settings config;

} // namespace qs
