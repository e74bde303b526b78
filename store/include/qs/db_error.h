#pragma once

#include <stdexcept>
#include <string>

namespace qs {

// A failure reported by the database or its driver (no data source, no such table,
// a driver error), with the ODBC SQLSTATE and the driver's messages. Distinct from
// qs::exception: the record layer passes it through unchanged.
class db_error : public std::runtime_error {
public:
    db_error(std::string sqlstate, const std::string& message)
        : std::runtime_error(message), sqlstate_(std::move(sqlstate))
    {
    }

    // Five characters; "QS000" for misuse detected by the record layer itself.
    const std::string& sqlstate() const noexcept { return sqlstate_; }
    // A constraint (such as a duplicate key) refused the write.
    bool is_constraint_violation() const noexcept { return sqlstate_.rfind("23", 0) == 0; }

private:
    std::string sqlstate_;
};

} // namespace qs
