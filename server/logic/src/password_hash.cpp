#include "qs/server/logic/password_hash.h"

#include <sodium.h>

#include "qs/fault/exception.h"

namespace qs {

namespace {

void start_sodium()
{
    static const int started = sodium_init(); // thread-safe, once
    if (started < 0)
        throw exception(0);
}

} // namespace

bool is_password_hash(const std::string& stored)
{
    return stored.rfind(crypto_pwhash_STRPREFIX, 0) == 0;
}

std::string hash_password(const std::string& password)
{
    start_sodium();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw exception(0);
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
