#pragma once

#include <string>

#include "qs/fault/exception.h"

namespace qs {

// Stored passwords: as typed, or Argon2id hashes in libsodium's string form
// ("$argon2id$v=19$m=...,t=...,p=...$salt$hash"), made with its interactive limits
// (about 64 MiB and a tenth of a second per hash). Both kinds may be in one table; a
// hash is told by its prefix. The server and qsadmin both store and verify through here.
bool is_password_hash(const std::string& stored);

// A hash could not be made: libsodium did not start, or memory ran out. Code 0.
class hash_failure : public exception {
public:
    explicit hash_failure(bool started) : exception(0), library_started_(started) {}
    bool library_started() const noexcept { return library_started_; }

private:
    bool library_started_;
};

// The password's Argon2id hash. Throws hash_failure when it cannot be made.
std::string hash_password(const std::string& password);

// A hash is verified; a plain password must match exactly.
bool password_matches(const std::string& stored, const std::string& typed);

} // namespace qs
