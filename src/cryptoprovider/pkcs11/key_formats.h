// What a PKCS#11 token keeps about each key: the metadata container (the
// key's password hash and try counters, with the key record as payload)
// stored in Base64 in the private key's label, and the record class of the
// token's keys.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "asn1/bytes.h"
#include "cryptoprovider/core/token_key_record.h"

// Crypto types a container names, by the index stored at offset 38.
inline constexpr std::array<std::string_view, 4> SUPPORTED_CRYPTO_TYPES{"ccom33", "ccom34", "ccom341", "ccom35"};

// "kvmf", maxTries, failedTries, 32-byte password hash, crypto type index,
// 25 reserved bytes, then the payload from offset 64.
class MetaInfoContainer
{
  public:
    static constexpr std::size_t HEADER_SIZE = 64;
    static constexpr std::size_t HASH_SIZE = 32;

    // The magic followed by zeros: no password, no payload.
    MetaInfoContainer();
    // Bytes of at least 64 starting with the magic are taken as they are;
    // anything else becomes a fresh container with `create`, and is
    // AccessDenied without it.
    MetaInfoContainer(const bytes& data, bool create);
    // The Base64 text of a container, then as above (text that is not
    // Base64 counts as not a container).
    MetaInfoContainer(std::string_view base64, bool create);

    const bytes& data() const noexcept { return m_data; }
    std::string base64() const;

    // The bytes from offset 64 on; setPayload keeps the header.
    bytes payload() const;
    void setPayload(const bytes& payload);

    // 0: the key has no password.
    std::uint8_t maxTries() const noexcept { return m_data[4]; }
    void setMaxTries(std::uint8_t tries) noexcept { m_data[4] = tries; }
    std::uint8_t failedTries() const noexcept { return m_data[5]; }
    void setFailedTries(std::uint8_t tries) noexcept { m_data[5] = tries; }
    bytes passHash() const;
    // std::invalid_argument unless exactly 32 bytes.
    void setPassHash(const bytes& hash);
    bool hasPass() const noexcept { return maxTries() != 0; }

    // UnknownCryptoType for an index beyond SUPPORTED_CRYPTO_TYPES.
    std::string cryptoType() const;
    // UnsupportedCryptoType for a name outside SUPPORTED_CRYPTO_TYPES.
    void setCryptoType(std::string_view name);

  private:
    bytes m_data;
};

namespace pkcs11
{

// A key of a PKCS#11 token: its record plus the CKA_ID of its key objects.
class KeyRecord : public TokenKeyRecord
{
  public:
    // Parses a version-1 record read from the token; the small id is taken
    // from `keyId` (getKeyIdByCertId).
    KeyRecord(const bytes& keyId, const bytes& data, const ParamSets& paramSets, std::string_view cryptoType,
              bool hasPassword, bool isChangeable);
    // A new key's record, external id 0.
    KeyRecord(std::string_view alias, std::uint16_t systemId, const AlgorithmId& signAlgorithm,
              std::string_view paramsOid, const ParamSets& paramSets, std::string_view cryptoType,
              const bytes& keyId);

    const bytes& keyId() const noexcept { return m_keyId; }

  private:
    bytes m_keyId;
};

// The record as a token key; std::logic_error "not pkcs11 key" for any other
// record or none.
std::shared_ptr<KeyRecord> key(const std::shared_ptr<::KeyRecord>& record);

} // namespace pkcs11
