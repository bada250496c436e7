#include "cryptoprovider/pkcs11/key_formats.h"

#include <algorithm>
#include <stdexcept>

#include "base/conv.h"
#include "cryptoprovider/core/errors.h"
#include "x509/x509.h"

namespace
{

constexpr std::uint8_t MAGIC[] = {'k', 'v', 'm', 'f'};
constexpr std::size_t HASH_OFFSET = 6;
constexpr std::size_t CRYPTO_TYPE_OFFSET = 38;

bool isContainer(const bytes& data)
{
    return data.size() >= MetaInfoContainer::HEADER_SIZE &&
           std::equal(std::begin(MAGIC), std::end(MAGIC), data.begin());
}

bytes decodeBase64(std::string_view text)
{
    try {
        return conv::base64_to_binary(text);
    } catch (const std::invalid_argument&) {
        return {};
    }
}

} // namespace

MetaInfoContainer::MetaInfoContainer() : m_data(HEADER_SIZE, 0)
{
    std::copy(std::begin(MAGIC), std::end(MAGIC), m_data.begin());
}

MetaInfoContainer::MetaInfoContainer(const bytes& data, bool create) : MetaInfoContainer()
{
    if (isContainer(data)) {
        m_data = data;
    } else if (!create) {
        throw AccessDenied();
    }
}

MetaInfoContainer::MetaInfoContainer(std::string_view base64, bool create)
    : MetaInfoContainer(decodeBase64(base64), create)
{
}

std::string MetaInfoContainer::base64() const
{
    return conv::binary_to_base64(m_data);
}

bytes MetaInfoContainer::payload() const
{
    return bytes(m_data.begin() + HEADER_SIZE, m_data.end());
}

void MetaInfoContainer::setPayload(const bytes& payload)
{
    m_data.resize(HEADER_SIZE);
    m_data.insert(m_data.end(), payload.begin(), payload.end());
}

bytes MetaInfoContainer::passHash() const
{
    return bytes(m_data.begin() + HASH_OFFSET, m_data.begin() + HASH_OFFSET + HASH_SIZE);
}

void MetaInfoContainer::setPassHash(const bytes& hash)
{
    if (hash.size() != HASH_SIZE) {
        throw std::invalid_argument("password hash must be 32 bytes");
    }
    std::copy(hash.begin(), hash.end(), m_data.begin() + HASH_OFFSET);
}

std::string MetaInfoContainer::cryptoType() const
{
    const std::uint8_t index = m_data[CRYPTO_TYPE_OFFSET];
    if (index >= SUPPORTED_CRYPTO_TYPES.size()) {
        throw UnknownCryptoType();
    }
    return std::string(SUPPORTED_CRYPTO_TYPES[index]);
}

void MetaInfoContainer::setCryptoType(std::string_view name)
{
    const auto found = std::find(SUPPORTED_CRYPTO_TYPES.begin(), SUPPORTED_CRYPTO_TYPES.end(), name);
    if (found == SUPPORTED_CRYPTO_TYPES.end()) {
        throw UnsupportedCryptoType(name);
    }
    m_data[CRYPTO_TYPE_OFFSET] = static_cast<std::uint8_t>(found - SUPPORTED_CRYPTO_TYPES.begin());
}

namespace pkcs11
{

KeyRecord::KeyRecord(const bytes& keyId, const bytes& data, const ParamSets& paramSets,
                     std::string_view cryptoType, bool hasPassword, bool isChangeable)
    : TokenKeyRecord(getKeyIdByCertId(keyId), data, paramSets, cryptoType, false), m_keyId(keyId)
{
    setIsChangeable(isChangeable);
    if (!hasPassword) {
        setHasPassword(false);
    }
}

KeyRecord::KeyRecord(std::string_view alias, std::uint16_t systemId, const AlgorithmId& signAlgorithm,
                     std::string_view paramsOid, const ParamSets& paramSets, std::string_view cryptoType,
                     const bytes& keyId)
    : TokenKeyRecord(alias, systemId, 0, signAlgorithm, paramsOid, paramSets, getKeyIdByCertId(keyId),
                     cryptoType),
      m_keyId(keyId)
{
}

std::shared_ptr<KeyRecord> key(const std::shared_ptr<::KeyRecord>& record)
{
    auto token = std::dynamic_pointer_cast<KeyRecord>(record);
    if (!token) {
        throw std::logic_error("not pkcs11 key");
    }
    return token;
}

} // namespace pkcs11
