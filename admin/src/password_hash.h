#pragma once

#include <string>

namespace qs::admin {

// The password's Argon2id hash in libsodium's string form ("$argon2id$..."), made with
// the interactive limits the server uses. Throws failure when it cannot be made.
std::string argon2id_hash(const std::string& password);

} // namespace qs::admin
