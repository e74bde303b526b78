#include "failure_reason.h"

#include "qs/store/db_error_text.h"

namespace qs::probe {

std::string failure_reason(const std::exception_ptr& failure)
{
    static const record_words from_zero = counted_codes("record layer failure ", 0);
    return failure_text(failure, from_zero);
}

} // namespace qs::probe
