#pragma once

#include <string>

namespace qs {

// Stored passwords: as typed, or Argon2id hashes (libsodium's crypto_pwhash_str, with its
// interactive limits: about 64 MiB and a tenth of a second per hash). Both kinds may be
// in one table; a hash is told by its prefix.
bool is_password_hash(const std::string& stored);
// Throws qs::exception when the hash cannot be made (out of memory).
std::string hash_password(const std::string& password);
// A hash is verified; a plain password must match exactly.
bool password_matches(const std::string& stored, const std::string& typed);

} // namespace qs
