#include "failure_reason.h"

#include "qs/fault/exception.h"
#include "qs/store/db_error_text.h"
#include "qs/store/store_codes.h"

namespace qs::probe {

std::string failure_reason(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const db_error& e) {
        return db_error_text(e);
    } catch (const exception& e) {
        return "record layer failure " + std::to_string(store_codes::counted_from(0, e.code()));
    } catch (const std::exception& e) {
        return one_line(e.what());
    } catch (...) {
        return "unknown failure";
    }
}

} // namespace qs::probe
