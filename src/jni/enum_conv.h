// Java ints that name a kind of key store or a certificate category become
// the library's enumerations here, and only here.
#pragma once

#include <cstdint>
#include <optional>

#include "cryptoprovider/core/crypto_types.h"
#include "cryptoprovider/core/entities.h"

namespace conv
{

// The kind of key store a Java int names: 0 tokens, 2 CSP containers, 3 the
// confirmation token; nullopt for any other value (each export answers those
// with its own error).
std::optional<KeyStoreType> to_keyStoreType(std::int32_t value) noexcept;

// The certificate category a Java int names (0 to 4); std::invalid_argument
// with "BS-006003" ("Incorrect parameters") for any other value.
CertType to_certType(std::int32_t value);

} // namespace conv
