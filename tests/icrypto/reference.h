// Independent GOST and SHA implementations for comparison: libgcrypt and
// OpenSSL (its default provider, and the gost provider for GOST R 34.11-94
// and the GOST 28147-89 counter mode).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ref
{

using Bytes = std::vector<unsigned char>;

// libgcrypt message digest (GCRY_MD_*), output as libgcrypt gives it.
Bytes gcryptHash(int algo, const Bytes& data);

// GOST 28147-89 ECB encryption of whole 8-byte blocks with the S-box named
// by its OID.
Bytes gcryptGostEcb(const std::string& sboxOid, const Bytes& key, const Bytes& data);

// libgcrypt GCRY_CIPHER_GOST28147 in its CTR mode.
Bytes gcryptGostCtr(const std::string& sboxOid, const Bytes& key, const Bytes& iv, const Bytes& data);

// libgcrypt GCRY_MAC_GOST28147_IMIT (4 bytes).
Bytes gcryptGostMac(const std::string& sboxOid, const Bytes& key, const Bytes& data);

// OpenSSL digest by name ("SHA256", "md_gost94", ...); the gost provider is
// loaded next to the default one.
Bytes opensslDigest(const std::string& name, const Bytes& data);

// OpenSSL cipher by name ("gost89-cnt") encrypting data with key and iv.
Bytes opensslEncrypt(const std::string& name, const Bytes& key, const Bytes& iv, const Bytes& data);

Bytes fromHex(const std::string& hex);
std::string toHex(const Bytes& data);
Bytes text(const std::string& s);
Bytes reversed(Bytes data);
// Deterministic pseudo-random bytes.
Bytes pattern(std::size_t size, std::uint32_t seed);

} // namespace ref
