// What the token key store's files share about secrets: a wiped copy of a
// PIN or password, and the check that a key's password is cached.
#pragma once

#include <string>
#include <utility>

#include "base/secure.h"
#include "cryptoprovider/core/key_store.h"

namespace pkcs11
{

// Wipes a PIN or password copy when it goes out of scope.
template <class Secret> class Wiped
{
  public:
    explicit Wiped(Secret value) : m_value(std::move(value)) {}
    ~Wiped() { bs::secureZero(&m_value); }
    Wiped(const Wiped&) = delete;
    Wiped& operator=(const Wiped&) = delete;
    const Secret& operator*() const noexcept { return m_value; }

  private:
    Secret m_value;
};

// PasswordRequired unless the key's password is cached.
inline void requirePassword(const ::KeyStore& store, const ::KeyRecord& key)
{
    std::wstring password = store.getCachedPassword(key.alias());
    bs::secureZero(&password);
}

} // namespace pkcs11
