#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qs/store/db_error.h"
#include "qs/fault/exception.h"
#include "qs/store/field_exchange.h"
#include "qs/store/odbc/connection.h"

namespace qs {

// A short-lived view of rows of one table, read whole when opened (a snapshot).
// Use: construct, optionally filter by key, open(), read the current row or
// edit()/add_new(), assign, update(), close(). Failures of the database pass through
// as db_error; the layer's own failures are qs::exception with the store codes.
// A record object belongs to one thread; its connection lives from open() to close().
class recordset {
public:
    // With a null database the record connects on open() and disconnects on close();
    // otherwise it works on that connection (owned by the caller).
    explicit recordset(odbc::connection* database = nullptr);
    virtual ~recordset();
    recordset(const recordset&) = delete;
    recordset& operator=(const recordset&) = delete;

    // Connects, selects the bound columns of the matching rows and makes the first
    // row current (none when nothing matched; every field then reads "").
    virtual void open();
    // Connects without reading any row, for add_new() alone.
    void open_to_add();
    bool is_open() const noexcept { return open_; }
    void close();

    // Writes the assigned columns: after edit(), of the current row by its key;
    // after add_new(), as a new row. Nothing assigned writes nothing. A value longer
    // than the column limit throws value_too_long and writes nothing.
    void update();
    bool can_update() const noexcept { return open_; }
    void requery();

    void move(long rows);
    void move_first();
    void move_last();
    void move_next();
    void move_prev();
    bool is_bof() const noexcept { return current_ < 0 || rows_.empty(); }
    bool is_eof() const noexcept { return current_ >= static_cast<long>(rows_.size()); }

    // Deletes the current row by its key; the next row becomes current.
    void remove();
    void add_new();
    void edit();

    // The connection string of the data source "Quillspeak Database".
    static std::string data_source();

protected:
    virtual std::string GetDefaultConnect() const;
    virtual std::string GetDefaultSQL() const = 0; // the table
    virtual void DoFieldExchange(field_exchange& fx) = 0;

    // Restricts the rows to those whose column equals value (a bound parameter).
    void add_filter(const std::string& column, const std::string& value);
    bool has_filter() const noexcept { return !filter_.empty(); }
    // After open(): throws code when a filter is set and the key field came back empty.
    void require_row(const text_field& key, int code) const;

    // Assigns a bound field and marks it for the next update().
    static void assign(text_field& field, const std::string& value);

private:
    enum class mode { none, editing, adding };

    const std::vector<field_exchange::binding>& bindings();
    odbc::connection& conn();
    void connect();
    void select();
    void load_current();
    void check_lengths();
    void write_changes();
    void insert_new();

    odbc::connection* database_;
    std::unique_ptr<odbc::connection> own_connection_;
    bool open_ = false;
    mode mode_ = mode::none;
    std::string filter_; // "column = ?" joined by AND
    std::vector<std::string> filter_params_;
    field_exchange fx_;                          // bound lazily: DoFieldExchange is virtual
    std::vector<std::vector<std::string>> rows_; // the snapshot, columns in binding order
    long current_ = 0;                           // -1 before the first row, rows_.size() after the last
};

} // namespace qs
