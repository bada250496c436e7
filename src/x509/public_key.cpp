#include "x509/public_key.h"

#include <algorithm>
#include <stdexcept>

#include "asn1/binary.h"
#include "asn1/der.h"

bytes RsaPublicKey::exponentData() const
{
    return conv::int_to_binary(exponent);
}

bool RsaPublicKey::sameNumber(const bytes& a, const bytes& b) noexcept
{
    const auto significant = [](const bytes& number) {
        return std::find_if(number.begin(), number.end(), [](unsigned char octet) { return octet != 0; });
    };
    return std::equal(significant(a), a.end(), significant(b), b.end());
}

bytes reverseHalves(const bytes& key)
{
    bytes out = key;
    const auto middle = out.begin() + static_cast<std::ptrdiff_t>(out.size() / 2);
    std::reverse(out.begin(), middle);
    std::reverse(middle, out.end());
    return out;
}

bool PublicKey::empty() const noexcept
{
    if (m_value.valueless_by_exception()) {
        return true;
    }
    if (const auto* gost = std::get_if<bytes>(&m_value)) {
        return gost->empty();
    }
    return std::get<RsaPublicKey>(m_value).empty();
}

bytes PublicKey::gostKey() const
{
    if (const auto* gost = std::get_if<bytes>(&m_value)) {
        return *gost;
    }
    return {};
}

RsaPublicKey PublicKey::rsaKey() const
{
    if (const auto* rsa = std::get_if<RsaPublicKey>(&m_value)) {
        return *rsa;
    }
    return {};
}

bytes PublicKey::derEncoding() const
{
    if (m_value.valueless_by_exception()) {
        return {};
    }
    if (const auto* gost = std::get_if<bytes>(&m_value)) {
        return der::encode(der::encode(*gost), 0);
    }
    const auto& rsa = std::get<RsaPublicKey>(m_value);
    // A modulus read from a certificate has lost its sign octet; without it
    // the INTEGER would read as negative.
    bytes modulus = rsa.modulus;
    if (!modulus.empty() && modulus[0] >= 0x80) {
        modulus.insert(modulus.begin(), 0x00);
    }
    return der::encode(
        der::encode(std::vector<bytes>{der::encodeBinaryInt(modulus), der::encode(rsa.exponent)}), 0);
}

PublicKey PublicKey::reverseKalva2() const
{
    const auto* gost = std::get_if<bytes>(&m_value);
    if (gost == nullptr) {
        throw std::logic_error("not gost key");
    }
    return PublicKey(reverseHalves(*gost));
}
