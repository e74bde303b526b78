#include "qs/server/logic/settings.h"

namespace qs {

settings config;

} // namespace qs
