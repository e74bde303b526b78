#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <string>

namespace qs {

// The Argon2 part of a command, run on the hashing pool apart from the database workers:
// checking a typed password against the stored one, or hashing a new one. A command sets
// it up and stops; its caller runs it, then runs the command again, which finds it done
// and reads the result. Owned by one connection's interpreter, used by one thread at a time.
class password_work {
public:
    // Threads of the hashing pool: each hash holds about 64 MiB while it runs, so the
    // pool bounds that memory.
    static constexpr std::size_t pool_threads = 2;

    // Checking typed against stored (nullopt: no such user). With hashed storage every
    // check costs one Argon2 computation, whatever is stored and whether the user exists
    // (a dummy hash then), so that its time tells nothing; a plain password that matches
    // is hashed then, to be stored. A check without Argon2 to do is done at once.
    void check(const std::optional<std::string>& stored, const std::string& typed, bool hashed_storage);
    bool checked(const std::optional<std::string>& stored, const std::string& typed) const;
    bool matched() const { return matched_; }
    // The hash of the plain password that matched; empty when none was made.
    const std::string& new_hash() const { return hash_; }

    // Hashing a new password.
    void hash(const std::string& password);
    bool hashed(const std::string& password) const;
    // The hash made; throws what making it threw (qs::exception: out of memory).
    const std::string& hash_made() const;

    bool pending() const { return pending_; }
    void run(); // on the hashing pool
    void clear() { *this = password_work(); }

private:
    enum class kind { none, check, hash };

    void run_check();

    kind kind_ = kind::none;
    bool pending_ = false;
    std::optional<std::string> stored_;
    std::string typed_; // the password typed, or the one to hash
    bool hashed_storage_ = false;
    bool matched_ = false;
    std::string hash_;
    std::exception_ptr failure_;
};

} // namespace qs
