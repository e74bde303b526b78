#include "qs/store_codes.h"

#ifndef QS_STORE_TESTER
#include "qs/settings.h"
#endif

namespace qs::store_codes {

int max_field_len()
{
#ifdef QS_STORE_TESTER
    return 255;
#else
    return config.max_field_len;
#endif
}

} // namespace qs::store_codes
