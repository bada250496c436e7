// Subject public keys: GOST (raw X||Y octets) or RSA (modulus, exponent).
#pragma once

#include <cstdint>
#include <variant>

#include "asn1/bytes.h"

struct RsaPublicKey {
    // Big-endian unsigned octets; leading zero octets do not change the key.
    bytes modulus;
    std::uint64_t exponent = 0;

    // Minimal big-endian octets of the exponent.
    bytes exponentData() const;
    bool empty() const noexcept { return modulus.empty() && exponent == 0; }

    // Keys are compared as numbers: a modulus read from a request keeps the
    // INTEGER's sign octet 00, one read from a certificate or a token does
    // not, and both are the same key.
    friend bool operator==(const RsaPublicKey& a, const RsaPublicKey& b)
    {
        return a.exponent == b.exponent && sameNumber(a.modulus, b.modulus);
    }
    friend bool operator!=(const RsaPublicKey& a, const RsaPublicKey& b) { return !(a == b); }

  private:
    // Big-endian unsigned numbers equal whatever their leading zero octets.
    static bool sameNumber(const bytes& a, const bytes& b) noexcept;
};

class PublicKey
{
  public:
    using Value = std::variant<bytes, RsaPublicKey>;

    PublicKey() = default;
    PublicKey(const bytes& gostKey) : m_value(gostKey) {}
    PublicKey(const RsaPublicKey& rsaKey) : m_value(rsaKey) {}
    PublicKey(const Value& value) : m_value(value) {}

    bool isGost() const noexcept { return m_value.index() == 0; }
    bool isRsa() const noexcept { return m_value.index() == 1; }
    bool empty() const noexcept;

    // The GOST octets; empty for an RSA key.
    bytes gostKey() const;
    // The RSA key; empty for a GOST key.
    RsaPublicKey rsaKey() const;
    operator bytes() const { return gostKey(); }
    operator RsaPublicKey() const { return rsaKey(); }
    const Value& value() const noexcept { return m_value; }

    friend bool operator==(const PublicKey& a, const PublicKey& b) { return a.m_value == b.m_value; }
    friend bool operator!=(const PublicKey& a, const PublicKey& b) { return !(a == b); }

    // subjectPublicKey BIT STRING: OCTET STRING of the GOST key, or
    // SEQUENCE { modulus, exponent } for RSA.
    bytes derEncoding() const;

    // GOST only: each half of the octets (each coordinate) reversed in place;
    // std::logic_error "not gost key" for RSA.
    PublicKey reverseKalva2() const;

  private:
    Value m_value;
};

// Each half of `key` reversed on its own (coordinates keep their places).
bytes reverseHalves(const bytes& key);
