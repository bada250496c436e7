// The little DER the simulated CSP reads: a certificate's outline, enough to
// fill CERT_INFO and to find a certificate by its public key.
#pragma once

#include <optional>
#include <string>

#include "state.h"

namespace labcsp
{

struct Tlv {
    std::uint8_t tag = 0;
    std::size_t at = 0;     // offset of the tag
    std::size_t header = 0; // tag and length octets
    std::size_t length = 0; // content octets
    std::size_t content() const { return at + header; }
    std::size_t end() const { return at + header + length; }
};
// One element at `at`, ending at or before `end` (definite lengths only).
std::optional<Tlv> readTlv(const Bytes& in, std::size_t at, std::size_t end);

// A span of the certificate's DER.
struct Span {
    std::size_t at = 0, length = 0;
};

struct ParsedCertificate {
    DWORD version = 0;        // 0 for v1 ... 2 for v3
    Bytes serial;             // the INTEGER's content octets
    Span issuer, subject;     // the whole Name elements
    std::string algorithmOid; // of the SubjectPublicKeyInfo
    Span algorithmParameters; // the whole parameters element, empty when absent
    Span publicKey;           // the BIT STRING's content after the unused-bits octet
    DWORD unusedBits = 0;
    Bytes publicKeyBits;
};
// CRYPT_E_ASN1_BADTAG when `der` is not exactly one certificate.
ParsedCertificate parseCertificate(const Bytes& der);

// The DER element starting at `data` (a certificate of at most 1 MiB),
// its length read from its own header: CRYPT_E_ASN1_BADTAG otherwise.
Bytes certificateAt(const BYTE* data);

} // namespace labcsp
