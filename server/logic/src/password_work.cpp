#include "qs/server/logic/password_work.h"

#include <sodium.h>

#include "qs/store/password_hash.h"

namespace qs {

namespace {

// A hash of a random password, made like every other: checking against it takes as long
// as checking against a user's.
const std::string& dummy_hash()
{
    static const std::string hash = [] {
        unsigned char secret[32];
        randombytes_buf(secret, sizeof secret);
        return hash_password(std::string(reinterpret_cast<const char*>(secret), sizeof secret));
    }();
    return hash;
}

} // namespace

void password_work::check(const std::optional<std::string>& stored, const std::string& typed, bool hashed_storage)
{
    clear();
    kind_ = kind::check;
    stored_ = stored;
    typed_ = typed;
    hashed_storage_ = hashed_storage;
    pending_ = hashed_storage || (stored && is_password_hash(*stored));
    if (!pending_)
        matched_ = stored && *stored == typed;
}

bool password_work::checked(const std::optional<std::string>& stored, const std::string& typed) const
{
    return kind_ == kind::check && !pending_ && stored_ == stored && typed_ == typed;
}

void password_work::hash(const std::string& password)
{
    clear();
    kind_ = kind::hash;
    typed_ = password;
    pending_ = true;
}

bool password_work::hashed(const std::string& password) const
{
    return kind_ == kind::hash && !pending_ && typed_ == password;
}

const std::string& password_work::hash_made() const
{
    if (failure_)
        std::rethrow_exception(failure_);
    return hash_;
}

void password_work::run()
{
    if (!pending_)
        return;
    try {
        if (kind_ == kind::check)
            run_check();
        else
            hash_ = hash_password(typed_);
    } catch (...) {
        failure_ = std::current_exception();
    }
    pending_ = false;
}

// One Argon2 computation whatever the case; a failure to hash a matching plain password
// leaves new_hash() empty.
void password_work::run_check()
{
    if (stored_ && is_password_hash(*stored_)) {
        matched_ = password_matches(*stored_, typed_);
        return;
    }
    matched_ = stored_ && *stored_ == typed_;
    if (!matched_) {
        password_matches(dummy_hash(), typed_);
        return;
    }
    hash_ = hash_password(typed_);
}

} // namespace qs
