#include "qs/server/settings.h"

namespace qs {

settings config;

} // namespace qs
