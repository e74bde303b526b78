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
    // The database could not be reached or did not answer in time: the connection is
    // broken (class 08), a time-out ran out (HYT00, HYT01, SQLite's busy wait), or the
    // server cancelled or shut down the work (57014, 57P01-57P03). Worth another try later.
    bool is_unavailable() const noexcept
    {
        return sqlstate_.rfind("08", 0) == 0 || sqlstate_ == "HYT00" || sqlstate_ == "HYT01" ||
               sqlstate_.rfind("57", 0) == 0;
    }
    // The connection itself is unusable and must be opened anew.
    bool is_connection_lost() const noexcept { return sqlstate_.rfind("08", 0) == 0; }

private:
    std::string sqlstate_;
};

} // namespace qs
