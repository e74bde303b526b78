#include "qs/store/password_hash.h"

#include <sodium.h>

namespace qs {

namespace {

constexpr int algorithm = crypto_pwhash_ALG_ARGON2ID13;
constexpr unsigned long long ops_limit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr std::size_t mem_limit = crypto_pwhash_MEMLIMIT_INTERACTIVE;

void start_sodium()
{
    static const int started = sodium_init(); // thread-safe, once
    if (started < 0)
        throw hash_failure(false);
}

} // namespace

bool is_password_hash(const std::string& stored)
{
    return stored.rfind(crypto_pwhash_argon2id_STRPREFIX, 0) == 0;
}

std::string hash_password(const std::string& password)
{
    start_sodium();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(hash, password.data(), password.size(), ops_limit, mem_limit, algorithm) != 0)
        throw hash_failure(true);
    return hash;
}

bool password_matches(const std::string& stored, const std::string& typed)
{
    if (!is_password_hash(stored))
        return stored == typed;
    start_sodium();
    return crypto_pwhash_str_verify(stored.c_str(), typed.data(), typed.size()) == 0;
}

} // namespace qs
