#include "password_hash.h"

#include <sodium.h>

#include "admin_error.h"

namespace qs::admin {

std::string argon2id_hash(const std::string& password)
{
    if (sodium_init() < 0)
        throw failure("libsodium cannot start");
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw failure("cannot hash the password (out of memory)");
    return hash;
}

} // namespace qs::admin
