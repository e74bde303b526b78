#include "qs/store/recordset.h"

#include <algorithm>

#include "qs/store/odbc/statement.h"
#include "qs/store/store_codes.h"

namespace qs {

namespace {

db_error misuse(const char* what)
{
    return db_error("QS000", what);
}

std::string join(const std::vector<std::string>& parts, const char* separator)
{
    std::string out;
    for (const auto& p : parts)
        out += (out.empty() ? "" : separator) + p;
    return out;
}

} // namespace

recordset::recordset(odbc::connection* database) : database_(database) {}

recordset::~recordset()
{
    close();
}

std::string recordset::data_source()
{
    return "DSN=Quillspeak Database;";
}

std::string recordset::GetDefaultConnect() const
{
    return data_source();
}

void recordset::add_filter(const std::string& column, const std::string& value)
{
    filter_ += (filter_.empty() ? "" : " AND ") + column + " = ?";
    filter_params_.push_back(value);
}

void recordset::require_row(const text_field& key, int code) const
{
    if (key.value.empty() && has_filter())
        throw exception(code);
}

void recordset::assign(text_field& field, const std::string& value)
{
    field.value = value;
    field.dirty = true;
}

const std::vector<field_exchange::binding>& recordset::bindings()
{
    if (fx_.bindings().empty())
        DoFieldExchange(fx_);
    return fx_.bindings();
}

odbc::connection& recordset::conn()
{
    return database_ != nullptr ? *database_ : *own_connection_;
}

void recordset::connect()
{
    if (open_)
        throw exception(store_codes::open_failed);
    if (database_ == nullptr)
        own_connection_ = std::make_unique<odbc::connection>(GetDefaultConnect());
}

void recordset::open()
{
    connect();
    try {
        select();
    } catch (...) {
        own_connection_.reset();
        throw;
    }
    open_ = true;
}

void recordset::open_to_add()
{
    connect();
    rows_.clear();
    current_ = 0;
    mode_ = mode::none;
    load_current();
    open_ = true;
}

void recordset::close()
{
    rows_.clear();
    own_connection_.reset();
    open_ = false;
    mode_ = mode::none;
}

void recordset::select()
{
    std::vector<std::string> columns;
    for (const auto& b : bindings())
        columns.emplace_back(b.column);
    std::string sql = "SELECT " + join(columns, ", ") + " FROM " + GetDefaultSQL();
    if (!filter_.empty())
        sql += " WHERE " + filter_;
    odbc::statement stmt(conn());
    stmt.execute(sql, filter_params_);
    rows_.clear();
    while (stmt.fetch()) {
        std::vector<std::string> row;
        for (std::size_t i = 0; i < columns.size(); ++i)
            row.push_back(stmt.text(static_cast<int>(i + 1)));
        rows_.push_back(std::move(row));
    }
    current_ = 0;
    mode_ = mode::none;
    load_current();
}

void recordset::load_current()
{
    const bool has_row = current_ >= 0 && current_ < static_cast<long>(rows_.size());
    const auto& b = bindings();
    for (std::size_t i = 0; i < b.size(); ++i) {
        b[i].field->value = has_row ? rows_[static_cast<std::size_t>(current_)][i] : std::string();
        b[i].field->dirty = false;
    }
}

void recordset::requery()
{
    if (!open_)
        throw exception(store_codes::requery_failed);
    select();
}

void recordset::move(long rows)
{
    if (!open_)
        throw misuse("move on a closed record");
    const long size = static_cast<long>(rows_.size());
    current_ = std::clamp(current_ + rows, -1L, size);
    mode_ = mode::none;
    load_current();
}

void recordset::move_first()
{
    move(-current_);
}

void recordset::move_last()
{
    move(std::max(0L, static_cast<long>(rows_.size()) - 1) - current_);
}

void recordset::move_next()
{
    move(1);
}

void recordset::move_prev()
{
    move(-1);
}

void recordset::edit()
{
    if (!open_ || is_bof() || is_eof())
        throw misuse("edit without a current row");
    load_current();
    mode_ = mode::editing;
}

void recordset::add_new()
{
    if (!open_)
        throw misuse("add_new on a closed record");
    for (const auto& b : bindings())
        *b.field = text_field{};
    mode_ = mode::adding;
}

void recordset::update()
{
    if (mode_ == mode::none)
        throw misuse("update without edit or add_new");
    check_lengths();
    if (mode_ == mode::editing)
        write_changes();
    else
        insert_new();
    mode_ = mode::none;
    load_current();
}

void recordset::check_lengths()
{
    const auto limit = static_cast<std::size_t>(std::max(0, store_codes::max_field_len()));
    for (const auto& b : bindings())
        if (b.field->dirty && b.field->value.size() > limit)
            throw exception(store_codes::value_too_long);
}

void recordset::write_changes()
{
    const auto& b = bindings();
    std::vector<std::string> sets, params;
    for (const auto& binding : b) {
        if (binding.field->dirty) {
            sets.push_back(std::string(binding.column) + " = ?");
            params.push_back(binding.field->value);
        }
    }
    if (sets.empty())
        return;
    auto& row = rows_[static_cast<std::size_t>(current_)];
    params.push_back(row[0]);
    odbc::statement stmt(conn());
    stmt.execute("UPDATE " + GetDefaultSQL() + " SET " + join(sets, ", ") + " WHERE " + b[0].column + " = ?", params);
    if (stmt.row_count() == 0)
        throw db_error("QS001", "the row to update no longer exists");
    for (std::size_t i = 0; i < b.size(); ++i)
        row[i] = b[i].field->value;
}

void recordset::insert_new()
{
    std::vector<std::string> columns, marks, params;
    for (const auto& binding : bindings()) {
        if (binding.field->dirty) {
            columns.emplace_back(binding.column);
            marks.emplace_back("?");
            params.push_back(binding.field->value);
        }
    }
    if (columns.empty())
        return;
    odbc::statement stmt(conn());
    stmt.execute("INSERT INTO " + GetDefaultSQL() + " (" + join(columns, ", ") + ") VALUES (" + join(marks, ", ") + ")",
                 params);
}

void recordset::remove()
{
    if (!open_ || is_bof() || is_eof())
        throw misuse("remove without a current row");
    auto at = rows_.begin() + current_;
    odbc::statement stmt(conn());
    stmt.execute("DELETE FROM " + GetDefaultSQL() + " WHERE " + std::string(bindings()[0].column) + " = ?", {(*at)[0]});
    rows_.erase(at);
    mode_ = mode::none;
    load_current();
}

} // namespace qs
