#pragma once

#include <string>
#include <vector>

namespace qs {

// Name lists and message pools are items joined by "|", with no separator at either end.

// Cuts a list text: append one "|", then take every piece that ends before a "|".
// "" gives one empty piece, "a|b|" gives a, b and an empty piece.
std::vector<std::string> split_list(const std::string& text);

// The pool with entry appended: "|" goes between them only when the pool is not empty.
std::string append_entry(const std::string& pool, const std::string& entry);

} // namespace qs
