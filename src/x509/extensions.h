// Certificate extensions of requests and built certificates.
#pragma once

#include <string>
#include <vector>

#include "asn1/bytes.h"
#include "asn1/oid.h"

struct Extension {
    ObjectIdentifier oid;
    bytes value; // extnValue content
    bool critical = false;

    friend bool operator==(const Extension&, const Extension&) = default;
};

// Key-usage bits (bit n is X.509 KeyUsage bit n).
namespace key_usage
{
inline constexpr int DIGITAL_SIGNATURE = 1;
inline constexpr int NON_REPUDIATION = 2;
inline constexpr int KEY_ENCIPHERMENT = 4;
inline constexpr int DATA_ENCIPHERMENT = 8;
inline constexpr int KEY_AGREEMENT = 16;
inline constexpr int KEY_CERT_SIGN = 32;
inline constexpr int CRL_SIGN = 64;
inline constexpr int ENCIPHER_ONLY = 128;
inline constexpr int DECIPHER_ONLY = 256;
} // namespace key_usage

struct Extensions {
    int keyUsage = 0; // 0: no key usage
    bool keyUsageCritical = false;
    std::vector<ObjectIdentifier> extendedKeyUsage;
    bool extendedKeyUsageCritical = false;
    std::vector<ObjectIdentifier> certificatePolicies;
    bool certificatePoliciesCritical = false;
    bool hasBasicConstraints = false;
    bool isCA = false;
    bool basicConstraintsCritical = false;
    bool hasSubjectSignTool = false;
    std::string subjectSignTool;
    std::vector<Extension> otherExtensions;

    friend bool operator==(const Extensions&, const Extensions&) = default;
};

namespace der
{

// KeyUsage BIT STRING; std::invalid_argument for 0 or bits beyond
// decipherOnly.
bytes encodeKeyUsage(int flags);
// Flags of a KeyUsage BIT STRING.
int getKeyUsage(const bytes& bitString);

// SEQUENCE { OID, BOOLEAN TRUE when critical, OCTET STRING { value } }.
bytes encode(const Extension& extension);
Extension getExtension(const bytes& der);

// The Extension encodings of `extensions` in their fixed order: keyUsage,
// extKeyUsage, certificatePolicies, basicConstraints, subjectSignTool, then
// the other extensions as given.
std::vector<bytes> encodeExtensionList(const Extensions& extensions);
// The [0] attributes field of a request holding one extensionRequest
// attribute with encodeExtensionList(extensions).
bytes encode(const Extensions& extensions);
// Reads the extensions of an Extensions SEQUENCE, dispatching the known kinds
// to their fields; a later extension of the same kind replaces an earlier.
Extensions getExtensions(const bytes& extensionsSequence);

} // namespace der
