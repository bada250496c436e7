#include "x509/extensions.h"

#include <stdexcept>

#include "asn1/der.h"
#include "asn1/errors.h"
#include "base/logger.h"
#include "x509/algorithms.h"
#include "x509/errors.h"

namespace
{

std::uint8_t reverseBits(std::uint8_t v)
{
    std::uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (v & (1u << i))
            r = static_cast<std::uint8_t>(r | (0x80u >> i));
    return r;
}

std::uint8_t trailingZeroBits(std::uint8_t v)
{
    std::uint8_t n = 0;
    while (n < 8 && !(v & (1u << n)))
        ++n;
    return n;
}

bool isTrue(const bytes& element)
{
    const Tlv tlv(element);
    return tlv.tag() == asn1tag::BOOLEAN && tlv.valueRef().size() == 1 && tlv.valueRef()[0] != 0;
}

std::vector<ObjectIdentifier> readOids(const bytes& sequence)
{
    std::vector<ObjectIdentifier> oids;
    for (const bytes& element : der::getSequense(sequence, true))
        oids.push_back(der::getObjectIdentifier(element));
    return oids;
}

} // namespace

namespace der
{

bytes encodeKeyUsage(int flags)
{
    bs::Logger log("der::encodeKeyUsage");
    if (flags <= 0 || flags > 511) {
        log.error("No key usage");
        throw bs::standardError<std::invalid_argument>(x509::localization, "X509-001001");
    }
    if (flags == key_usage::DECIPHER_ONLY)
        return der::encode(bytes{0x00, 0x80}, 7);
    bytes octets{reverseBits(static_cast<std::uint8_t>(flags & 0xFF))};
    if (flags > key_usage::DECIPHER_ONLY)
        octets.push_back(0x80);
    return der::encode(octets, trailingZeroBits(octets.back()));
}

int getKeyUsage(const bytes& bitString)
{
    bs::Logger log("der::getKeyUsage");
    if (bitString.empty() || bitString.front() != asn1tag::BIT_STRING) {
        const Asn1DecodingError error;
        log.error(error.what());
        throw error;
    }
    bytes data = der::getBitString(bitString);
    if (data.empty())
        return 0;
    // Padding bits are not flags, and decipherOnly (bit 8) is the top bit of
    // the second octet: a second octet without it sets nothing.
    const std::uint8_t unusedBits = Tlv(bitString).valueRef().front();
    data.back() = static_cast<std::uint8_t>(data.back() & (0xFFu << unusedBits));
    const bool decipherOnly = data.size() >= 2 && (data[1] & 0x80) != 0;
    return reverseBits(data[0]) + (decipherOnly ? key_usage::DECIPHER_ONLY : 0);
}

bytes encode(const Extension& extension)
{
    std::vector<bytes> fields{der::encode(extension.oid)};
    if (extension.critical)
        fields.push_back(der::encode(der::Boolean(true)));
    fields.push_back(der::encode(extension.value));
    return der::encode(fields);
}

Extension getExtension(const bytes& encoding)
{
    const std::vector<bytes> children = der::getSequense(encoding);
    if (children.size() < 2 || children.size() > 3)
        throw Asn1DecodingError();
    Extension extension;
    extension.oid = der::getObjectIdentifier(children[0]);
    extension.value = der::getOctetString(children.back());
    if (children.size() == 3) {
        const Tlv critical(children[1]);
        if (critical.tag() != asn1tag::BOOLEAN || critical.valueRef().size() != 1)
            throw Asn1DecodingError();
        extension.critical = critical.valueRef()[0] != 0;
    }
    return extension;
}

std::vector<bytes> encodeExtensionList(const Extensions& extensions)
{
    std::vector<bytes> list;
    if (extensions.keyUsage != 0)
        list.push_back(encode(
            Extension{KEY_USAGE_OID, encodeKeyUsage(extensions.keyUsage), extensions.keyUsageCritical}));
    if (!extensions.extendedKeyUsage.empty()) {
        std::vector<bytes> oids;
        for (const ObjectIdentifier& oid : extensions.extendedKeyUsage)
            oids.push_back(der::encode(oid));
        list.push_back(encode(
            Extension{EXTENDED_KEY_USAGE_OID, der::encode(oids), extensions.extendedKeyUsageCritical}));
    }
    if (!extensions.certificatePolicies.empty()) {
        std::vector<bytes> policies;
        for (const ObjectIdentifier& oid : extensions.certificatePolicies)
            policies.push_back(der::encode(std::vector<bytes>{der::encode(oid)}));
        list.push_back(encode(Extension{CERTIFICATE_POLICIES_OID, der::encode(policies),
                                        extensions.certificatePoliciesCritical}));
    }
    if (extensions.hasBasicConstraints) {
        std::vector<bytes> constraints;
        if (extensions.isCA)
            constraints.push_back(der::encode(der::Boolean(true)));
        list.push_back(encode(
            Extension{BASIC_CONSTRAINTS_OID, der::encode(constraints), extensions.basicConstraintsCritical}));
    }
    if (extensions.hasSubjectSignTool)
        list.push_back(
            encode(Extension{SUBJECT_SIGN_TOOL_OID, der::encode(extensions.subjectSignTool), false}));
    for (const Extension& other : extensions.otherExtensions)
        list.push_back(encode(other));
    return list;
}

bytes encode(const Extensions& extensions)
{
    const bytes request = der::encode(
        std::vector<bytes>{der::encode(EXTENSION_REQUEST_OID),
                           der::encode(std::set<bytes>{der::encode(encodeExtensionList(extensions))})});
    return der::encodeExplicit(der::encode(std::vector<bytes>{request}));
}

Extensions getExtensions(const bytes& extensionsSequence)
{
    Extensions result;
    for (const bytes& element : der::getSequense(extensionsSequence, true)) {
        Extension extension = getExtension(element);
        if (extension.oid == KEY_USAGE_OID) {
            result.keyUsage = getKeyUsage(extension.value);
            result.keyUsageCritical = extension.critical;
        } else if (extension.oid == EXTENDED_KEY_USAGE_OID) {
            result.extendedKeyUsage = readOids(extension.value);
            result.extendedKeyUsageCritical = extension.critical;
        } else if (extension.oid == CERTIFICATE_POLICIES_OID) {
            std::vector<ObjectIdentifier> policies;
            for (const bytes& policy : der::getSequense(extension.value, true))
                policies.push_back(der::getObjectIdentifier(der::getSequense(policy).front()));
            result.certificatePolicies = std::move(policies);
            result.certificatePoliciesCritical = extension.critical;
        } else if (extension.oid == BASIC_CONSTRAINTS_OID) {
            result.hasBasicConstraints = true;
            // cA is an optional BOOLEAN defaulting to FALSE: a SEQUENCE holding
            // only pathLenConstraint, or an explicit FALSE, is not a CA.
            const std::vector<bytes> constraints = der::getSequense(extension.value, true);
            result.isCA = !constraints.empty() && isTrue(constraints.front());
            result.basicConstraintsCritical = extension.critical;
        } else if (extension.oid == SUBJECT_SIGN_TOOL_OID) {
            result.hasSubjectSignTool = true;
            result.subjectSignTool = der::parseString(extension.value);
        } else {
            result.otherExtensions.push_back(std::move(extension));
        }
    }
    return result;
}

} // namespace der
