#pragma once

#include <string>
#include <vector>

namespace qs {

// One bound text column of a record: its value in the current row and whether it
// was assigned since edit() or add_new().
struct text_field {
    std::string value;
    bool dirty = false;
};

// Collects a record's bound columns in binding order (the record's DoFieldExchange).
class field_exchange {
public:
    struct binding {
        const char* column; // lower-case column name, used unquoted in SQL
        text_field* field;
    };

    void text(const char* column, text_field& field) { bindings_.push_back({column, &field}); }
    const std::vector<binding>& bindings() const noexcept { return bindings_; }

private:
    std::vector<binding> bindings_;
};

} // namespace qs
